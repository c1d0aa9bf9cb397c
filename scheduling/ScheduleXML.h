// The reader of the schedule file (grammar: ScheduleFormat.h). It loads the
// file through the XML DOM, walks the frequency elements in document order
// and hands each accepted one to the list's load callback. The first bad
// element or node stops the walk; its text becomes the list's error text.
// Log lines carry the class "AScheduleXML".
#pragma once

#include <cstddef>

#include "ce/cstring.h"
#include "ce/types.h"
#include "scheduling/ScheduleList.h"

class ADOMDocument;
class AXMLDOMNode;

class AScheduleXML {
 public:
  AScheduleXML() = default;
  virtual ~AScheduleXML() = default;
  AScheduleXML(const AScheduleXML&) = delete;
  AScheduleXML& operator=(const AScheduleXML&) = delete;

  // Loads the list's file and parses it. A file the DOM cannot load gives
  // the parser's reason as the list's error text; a document the grammar
  // refuses logs "Error reading schedule XML file". Daily and weekly
  // entries are dated today (the device's local date).
  bool Read(AScheduleList& list, AScheduleList::LoadEvent& onItem);
  // The same from the bytes of a file held in memory.
  bool ReadBytes(AScheduleList& list, AScheduleList::LoadEvent& onItem, const void* data, size_t size);


 private:
  // The document's walk and one frequency element's attributes (only
  // while a read runs); false with the list's error text set at the first
  // failure.
  bool Parse(ADOMDocument& document);
  bool ParseItem(int kind, const AXMLDOMNode& element);
  bool ReadDocument(AScheduleList& list, AScheduleList::LoadEvent& onItem, const void* data, size_t size);
  bool Fail(const CString& text);

  AScheduleList* m_pList = nullptr;
  AScheduleList::LoadEvent* m_pOnItem = nullptr;
  SYSTEMTIME m_Today{};  // the local date daily and weekly entries take
};
