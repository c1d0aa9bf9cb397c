// The class library's array collections over std::vector. Indexing is
// checked: GetAt, ElementAt and operator[] throw std::out_of_range for a
// bad index; SetAt and RemoveAt ignore one.
#pragma once

#include <cstddef>
#include <stdexcept>
#include <utility>
#include <vector>

#include "ce/cstring.h"
#include "ce/types.h"

template <typename TYPE, typename ARG_TYPE = const TYPE&>
class CArray {
 public:
  int GetSize() const { return static_cast<int>(m_v.size()); }
  int GetCount() const { return GetSize(); }
  int GetUpperBound() const { return GetSize() - 1; }
  bool IsEmpty() const { return m_v.empty(); }
  // growBy is accepted for compatibility; growth is std::vector's.
  void SetSize(int newSize, int growBy = -1) {
    (void)growBy;
    m_v.resize(newSize > 0 ? static_cast<size_t>(newSize) : 0);
  }
  void FreeExtra() { m_v.shrink_to_fit(); }
  void RemoveAll() { m_v.clear(); }

  const TYPE& GetAt(int index) const { return m_v.at(Checked(index)); }
  TYPE& ElementAt(int index) { return m_v.at(Checked(index)); }
  TYPE& operator[](int index) { return ElementAt(index); }
  const TYPE& operator[](int index) const { return GetAt(index); }
  void SetAt(int index, ARG_TYPE value) {
    if (index >= 0 && index < GetSize()) m_v[static_cast<size_t>(index)] = value;
  }
  // Grows the array (default elements) when index is past the end.
  void SetAtGrow(int index, ARG_TYPE value) {
    if (index < 0) return;
    TYPE copy(value);  // value may refer into the array
    if (index >= GetSize()) m_v.resize(static_cast<size_t>(index) + 1);
    m_v[static_cast<size_t>(index)] = std::move(copy);
  }
  TYPE* GetData() { return m_v.data(); }
  const TYPE* GetData() const { return m_v.data(); }

  // Returns the index of the new element.
  int Add(ARG_TYPE value) {
    m_v.push_back(value);
    return GetSize() - 1;
  }
  // Returns the index of the first appended element.
  int Append(const CArray& other) {
    int first = GetSize();
    m_v.insert(m_v.end(), other.m_v.begin(), other.m_v.end());
    return first;
  }
  void Copy(const CArray& other) { m_v = other.m_v; }
  // Inserts count copies at index; an index past the end grows the array
  // up to it first.
  void InsertAt(int index, ARG_TYPE value, int count = 1) {
    if (index < 0 || count <= 0) return;
    TYPE copy(value);  // value may refer into the array
    if (index > GetSize()) m_v.resize(static_cast<size_t>(index));
    m_v.insert(m_v.begin() + index, static_cast<size_t>(count), copy);
  }
  // Removes up to count elements from index (clamped to the array).
  void RemoveAt(int index, int count = 1) {
    if (index < 0 || index >= GetSize() || count <= 0) return;
    int n = count < GetSize() - index ? count : GetSize() - index;
    m_v.erase(m_v.begin() + index, m_v.begin() + index + n);
  }

  typename std::vector<TYPE>::iterator begin() { return m_v.begin(); }
  typename std::vector<TYPE>::iterator end() { return m_v.end(); }
  typename std::vector<TYPE>::const_iterator begin() const { return m_v.begin(); }
  typename std::vector<TYPE>::const_iterator end() const { return m_v.end(); }

 private:
  static size_t Checked(int index) {
    if (index < 0) throw std::out_of_range("CArray index");
    return static_cast<size_t>(index);
  }
  std::vector<TYPE> m_v;
};

class CStringArray : public CArray<CString, LPCWSTR> {};
class CDWordArray : public CArray<DWORD, DWORD> {};
class CWordArray : public CArray<WORD, WORD> {};
class CByteArray : public CArray<BYTE, BYTE> {};
class CUIntArray : public CArray<UINT, UINT> {};
class CPtrArray : public CArray<void*, void*> {};
