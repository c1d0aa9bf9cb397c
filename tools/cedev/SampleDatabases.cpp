#include "tools/cedev/SampleDatabases.h"

#include <cmath>
#include <cstring>
#include <deque>
#include <limits>
#include <random>

#include "ce/bytes.h"
#include "ce/database.h"
#include "ce/errors.h"
#include "ce/file.h"
#include "ce/notify.h"
#include "ce/notifyqueue.h"
#include "ce/registry.h"
#include "ce/system.h"
#include "ce/text.h"
#include "ce/time.h"

namespace cedev {
namespace {

using u16 = std::u16string;

constexpr CEPROPID P(WORD id, WORD type) { return MAKE_CEPROPID(id, type); }

// The values of one record; owns the texts and blobs its values point to.
class Props {
 public:
  Props& I2(CEPROPID id, SHORT v) { return Set(id, &CEVALUNION::iVal, v); }
  Props& UI2(CEPROPID id, USHORT v) { return Set(id, &CEVALUNION::uiVal, v); }
  Props& I4(CEPROPID id, LONG v) { return Set(id, &CEVALUNION::lVal, v); }
  Props& UI4(CEPROPID id, ULONG v) { return Set(id, &CEVALUNION::ulVal, v); }
  Props& Bool(CEPROPID id, BOOL v) { return Set(id, &CEVALUNION::boolVal, v); }
  Props& R8(CEPROPID id, double v) { return Set(id, &CEVALUNION::dblVal, v); }
  Props& Time(CEPROPID id, FILETIME v) { return Set(id, &CEVALUNION::filetime, v); }
  Props& Text(CEPROPID id, u16 s) {
    texts_.push_back(std::move(s));
    Add(id).val.lpwstr = texts_.back().data();
    return *this;
  }
  Props& Blob(CEPROPID id, std::string b) {
    blobs_.push_back(std::move(b));
    CEPROPVAL& v = Add(id);
    v.val.blob.dwCount = static_cast<DWORD>(blobs_.back().size());
    v.val.blob.lpb = blobs_.back().empty() ? nullptr : reinterpret_cast<LPBYTE>(blobs_.back().data());
    return *this;
  }
  std::vector<CEPROPVAL>& Values() { return vals_; }

 private:
  template <class T>
  Props& Set(CEPROPID id, T CEVALUNION::*member, T v) {
    Add(id).val.*member = v;
    return *this;
  }
  CEPROPVAL& Add(CEPROPID id) {
    CEPROPVAL v{};
    v.propid = id;
    vals_.push_back(v);
    return vals_.back();
  }
  std::vector<CEPROPVAL> vals_;
  std::deque<u16> texts_;
  std::deque<std::string> blobs_;
};

struct Def {
  CEPROPID id;
  const char16_t* name;
};

// The fixed time every sample database reports as last modified.
FILETIME Stamp() {
  SYSTEMTIME st{2006, 12, 4, 7, 9, 30, 0, 0};
  FILETIME ft{};
  SystemTimeToFileTime(&st, &ft);
  return ft;
}

class Filler {
 public:
  explicit Filler(std::string* error) : error_(error) {}

  uint32_t Next(uint32_t n) { return static_cast<uint32_t>(rng_() % n); }
  bool Fail(const std::string& what) {
    *error_ = what + " failed with " + ce::DescribeError(GetLastError());
    return false;
  }

  // A time in 2005-2007 (the device's local time as FILETIME).
  FILETIME When(int dayOffset = -1) {
    SYSTEMTIME st{};
    st.wYear = 2005;
    st.wMonth = 1;
    st.wDay = 1;
    FILETIME ft{};
    SystemTimeToFileTime(&st, &ft);
    uint64_t t = (static_cast<uint64_t>(ft.dwHighDateTime) << 32) | ft.dwLowDateTime;
    const uint64_t day = dayOffset >= 0 ? static_cast<uint64_t>(dayOffset) : Next(3 * 365);
    t += (day * 86400ull + Next(96) * 900ull) * 10000000ull;
    return FILETIME{static_cast<DWORD>(t), static_cast<DWORD>(t >> 32)};
  }
  static FILETIME Plus(FILETIME ft, uint64_t minutes) {
    uint64_t t = ((static_cast<uint64_t>(ft.dwHighDateTime) << 32) | ft.dwLowDateTime) + minutes * 600000000ull;
    return FILETIME{static_cast<DWORD>(t), static_cast<DWORD>(t >> 32)};
  }
  std::string Bytes(size_t n) {
    std::string b(n, '\0');
    for (auto& c : b) c = static_cast<char>(rng_());
    return b;
  }
  // Text-like bytes (mail bodies) of n bytes.
  std::string Words(size_t n) {
    static const char* const kWords[] = {"meeting", "tomorrow", "please", "review", "attached", "thanks",
                                         "budget", "schedule", "call", "the", "and", "draft", "week"};
    std::string s;
    while (s.size() < n) {
      s += kWords[Next(13)];
      s += Next(10) ? " " : ".\r\n";
    }
    s.resize(n);
    return s;
  }

  bool Cedb(CEGUID g, const char16_t* name, DWORD type, const std::vector<SORTORDERSPEC>& sorts, CEOID* oid) {
    CEDBASEINFO info{};
    info.dwFlags = CEDB_VALIDNAME | CEDB_VALIDTYPE | CEDB_VALIDSORTSPEC | CEDB_VALIDMODTIME;
    u16 n(name);
    std::copy(n.begin(), n.end(), info.szDbaseName);
    info.dwDbaseType = type;
    info.ftLastModified = Stamp();
    info.wNumSortOrder = static_cast<WORD>(sorts.size());
    std::copy(sorts.begin(), sorts.end(), info.rgSortSpecs);
    *oid = CeCreateDatabaseEx(&g, &info);
    return *oid || Fail("creating the CEDB database " + ce::ToUtf8(name));
  }

  bool Edb(CEGUID g, const char16_t* name, DWORD type, const std::vector<std::vector<CEPROPID>>& sorts,
           const std::vector<Def>& defs, CEOID* oid) {
    CEDBASEINFOEX info{};
    info.wVersion = CEDBASEINFOEX_VERSION;
    info.dwFlags = CEDB_VALIDNAME | CEDB_VALIDTYPE | CEDB_VALIDSORTSPEC | CEDB_VALIDMODTIME;
    u16 n(name);
    std::copy(n.begin(), n.end(), info.szDbaseName);
    info.dwDbaseType = type;
    info.ftLastModified = Stamp();
    info.wNumSortOrder = static_cast<WORD>(sorts.size());
    for (size_t i = 0; i < sorts.size(); ++i) {
      SORTORDERSPECEX& s = info.rgSortSpecs[i];
      s.wVersion = 1;
      s.wNumProps = static_cast<WORD>(sorts[i].size());
      for (size_t p = 0; p < sorts[i].size(); ++p) {
        s.rgPropID[p] = sorts[i][p];
        s.rgdwFlags[p] = p ? CEDB_SORT_CASEINSENSITIVE : CEDB_SORT_CASEINSENSITIVE | CEDB_SORT_UNKNOWNFIRST;
      }
    }
    std::vector<CEPROPSPEC> specs;
    std::deque<u16> names;
    for (const Def& d : defs) {
      names.emplace_back(d.name);
      CEPROPSPEC s{};
      s.wVersion = CEPROPSPEC_VERSION;
      s.propid = d.id;
      s.dwFlags = TypeFromPropID(d.id) == CEVT_LPWSTR ? DB_PROP_COMPRESSED : 0;
      s.pwszPropName = names.back().data();
      s.cchPropName = static_cast<DWORD>(names.back().size() + 1);
      specs.push_back(s);
    }
    *oid = CeCreateDatabaseWithProps(&g, &info, static_cast<DWORD>(specs.size()), specs.data());
    return *oid || Fail("creating the EDB database " + ce::ToUtf8(name));
  }

  // Writes the records fill(i, props) makes, then puts the fixed time back
  // as the last modification.
  template <class Fill>
  bool Records(CEGUID g, CEOID oid, bool edb, int count, Fill fill) {
    HANDLE h = edb ? CeOpenDatabaseInSession(nullptr, &g, &oid, nullptr, nullptr, 0, nullptr)
                   : CeOpenDatabaseEx2(&g, &oid, nullptr, nullptr, 0, nullptr);
    if (h == INVALID_HANDLE_VALUE) return Fail("opening a sample database");
    for (int i = 0; i < count; ++i) {
      Props p;
      fill(i, p);
      if (!CeWriteRecordProps(h, 0, static_cast<WORD>(p.Values().size()), p.Values().data())) {
        CloseHandle(h);
        return Fail("writing a sample record");
      }
    }
    CloseHandle(h);
    return Restamp(g, oid, edb);
  }

  bool Restamp(CEGUID g, CEOID oid, bool edb) {
    bool ok;
    if (edb) {
      CEDBASEINFOEX info{};
      info.dwFlags = CEDB_VALIDMODTIME;
      info.ftLastModified = Stamp();
      ok = CeSetDatabaseInfoEx2(&g, oid, &info);
    } else {
      CEDBASEINFO info{};
      info.dwFlags = CEDB_VALIDMODTIME;
      info.ftLastModified = Stamp();
      ok = CeSetDatabaseInfoEx(&g, oid, &info);
    }
    return ok || Fail("stamping a sample database");
  }

  bool WriteFile(const u16& path, const std::string& data) {
    HANDLE h = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h == INVALID_HANDLE_VALUE) return Fail("creating " + ce::ToUtf8(path));
    DWORD written = 0;
    const bool ok = data.empty() || (::WriteFile(h, data.data(), static_cast<DWORD>(data.size()), &written, nullptr) &&
                                     written == data.size());
    FILETIME t = When();
    SetFileTime(h, &t, &t, &t);
    if (!CloseHandle(h) || !ok) return Fail("writing " + ce::ToUtf8(path));
    return true;
  }

  std::mt19937 rng_{20061207u};
  std::string* error_;
};

// ---------------------------------------------------------------- names

const char16_t* const kFirst[] = {u"Anna",   u"J\u00fcrgen", u"Fran\u00e7oise", u"\u0412\u0435\u0440\u0430",
                                  u"Sean",   u"Mar\u00eda",  u"\u5c0f\u6797",       u"\u00d8ystein",
                                  u"Li",     u"Zo\u00eb",    u"Ren\u00e9",          u"\u0130smail",
                                  u"Pat",    u"Chlo\u00e9",  u"\u039d\u03af\u03ba\u03bf\u03c2", u"Ay\u015fe"};
const char16_t* const kLast[] = {u"Smith",  u"M\u00fcller", u"Dubois", u"\u0418\u0432\u0430\u043d\u043e\u0432\u0430",
                                 u"O'Brien", u"Garc\u00eda", u"\u7530\u4e2d", u"Hansen",
                                 u"Wong",   u"Bront\u00eb", u"Lef\u00e8vre", u"Y\u0131lmaz",
                                 u"Example", u"Sk\u00e5l",   u"\u03a0\u03b1\u03c0\u03b1\u03c2", u"\u00c7elik"};
const char16_t* const kSubjects[] = {u"Team meeting", u"Dentist", u"Lunch with client", u"Quarterly review",
                                     u"Flight to Z\u00fcrich", u"Call home", u"Gym", u"Project kick-off",
                                     u"\u4f1a\u8b70", u"Caf\u00e9 at noon"};

u16 Ascii(std::string_view s) { return ce::FromUtf8(s); }
u16 Num(uint32_t n) { return ce::FromUtf8(std::to_string(n)); }

// ---------------------------------------------------------------- object store

constexpr CEPROPID kFirstName = P(1, CEVT_LPWSTR), kLastName = P(2, CEVT_LPWSTR), kCompany = P(3, CEVT_LPWSTR),
                   kEmail = P(4, CEVT_LPWSTR), kPhone = P(5, CEVT_LPWSTR), kBirthday = P(6, CEVT_FILETIME),
                   kPhoto = P(7, CEVT_BLOB), kRank = P(8, CEVT_I2), kFlags = P(9, CEVT_UI4),
                   kFavorite = P(10, CEVT_BOOL), kBalance = P(11, CEVT_R8), kKids = P(12, CEVT_UI2),
                   kCount = P(13, CEVT_I4);
constexpr CEPROPID kSubject = P(20, CEVT_LPWSTR), kLocation = P(21, CEVT_LPWSTR), kStart = P(22, CEVT_FILETIME),
                   kEnd = P(23, CEVT_FILETIME), kDuration = P(24, CEVT_I4), kAllDay = P(25, CEVT_BOOL),
                   kRecurrence = P(26, CEVT_BLOB), kReminder = P(27, CEVT_UI2), kNotes = P(28, CEVT_LPWSTR),
                   kSensitivity = P(29, CEVT_I2), kDue = P(30, CEVT_FILETIME), kPriority = P(31, CEVT_UI2),
                   kComplete = P(32, CEVT_BOOL), kPercent = P(33, CEVT_R8);

void Contact(Filler& f, int i, Props& p) {
  p.Text(kFirstName, kFirst[f.Next(16)]).Text(kLastName, kLast[f.Next(16)]);
  if (f.Next(3)) p.Text(kCompany, Ascii("Company ") + Num(f.Next(40)));
  p.Text(kEmail, Ascii("person") + Num(static_cast<uint32_t>(i)) + u"@example.com");
  p.Text(kPhone, Ascii("+1 425 555 ") + Num(1000 + f.Next(9000)));
  if (f.Next(2)) p.Time(kBirthday, f.When());
  if (i % 7 == 0) p.Blob(kPhoto, "\xFF\xD8\xFF\xE0" + f.Bytes(500 + f.Next(6000)));
  p.I2(kRank, static_cast<SHORT>(f.Next(200)) - 100).UI4(kFlags, f.Next(16)).Bool(kFavorite, f.Next(5) == 0);
  if (i % 3 == 0) p.R8(kBalance, f.Next(1000000) / 100.0 - 5000.0);
  if (i % 4 == 0) p.UI2(kKids, static_cast<USHORT>(f.Next(5)));
}

std::string Recurrence(Filler& f) {
  std::string b;
  ce::le::Put16(&b, 0x3004);                           // pattern kind
  ce::le::Put16(&b, static_cast<uint16_t>(f.Next(4)));  // daily, weekly, monthly, yearly
  ce::le::Put32(&b, 1 + f.Next(4));                    // interval
  ce::le::Put32(&b, f.Next(128));                      // days of the week
  ce::le::Put32(&b, f.Next(30));                       // occurrences (0: no end)
  b += f.Bytes(f.Next(40));                            // exceptions
  return b;
}

void Appointment(Filler& f, int i, Props& p) {
  FILETIME start = f.When();
  const uint32_t minutes = 15 * (1 + f.Next(16));
  p.Text(kSubject, kSubjects[f.Next(10)]).Time(kStart, start).Time(kEnd, Filler::Plus(start, minutes));
  p.I4(kDuration, static_cast<LONG>(minutes)).Bool(kAllDay, i % 11 == 0);
  if (f.Next(2)) p.Text(kLocation, Ascii("Room ") + Num(100 + f.Next(400)));
  if (i % 5 == 0) p.Blob(kRecurrence, Recurrence(f));
  p.UI2(kReminder, static_cast<USHORT>(5 * f.Next(7))).I2(kSensitivity, static_cast<SHORT>(f.Next(3)));
  if (i % 9 == 0) p.Text(kNotes, ce::FromUtf8(f.Words(50 + f.Next(800))));
}

void Task(Filler& f, int i, Props& p) {
  p.Text(kSubject, Ascii("Task ") + Num(static_cast<uint32_t>(i)) + u" \u2013 " + kSubjects[f.Next(10)]);
  if (f.Next(4)) p.Time(kDue, f.When());
  p.UI2(kPriority, static_cast<USHORT>(f.Next(3))).Bool(kComplete, i % 4 == 0).R8(kPercent, f.Next(101) / 100.0);
  if (i % 6 == 0) p.Text(kNotes, ce::FromUtf8(f.Words(40 + f.Next(300))));
}

// Every CEDB type at its edges: empty texts and blobs, extremes, NaNs,
// FILETIME 0.
void CedbEdges(int i, Props& p) {
  const double nan = std::numeric_limits<double>::quiet_NaN();
  uint64_t payload = 0xFFF8DEADBEEF0001ull;  // a negative NaN with a payload
  double oddNan;
  std::memcpy(&oddNan, &payload, sizeof oddNan);
  switch (i) {
    case 0:
      p.I2(P(1, CEVT_I2), std::numeric_limits<SHORT>::min()).UI2(P(2, CEVT_UI2), 0)
          .I4(P(3, CEVT_I4), std::numeric_limits<LONG>::min()).UI4(P(4, CEVT_UI4), 0).R8(P(5, CEVT_R8), nan)
          .Bool(P(6, CEVT_BOOL), FALSE).Time(P(7, CEVT_FILETIME), FILETIME{0, 0}).Text(P(8, CEVT_LPWSTR), u"")
          .Blob(P(9, CEVT_BLOB), "");
      break;
    case 1:
      p.I2(P(1, CEVT_I2), std::numeric_limits<SHORT>::max()).UI2(P(2, CEVT_UI2), 0xFFFF)
          .I4(P(3, CEVT_I4), std::numeric_limits<LONG>::max()).UI4(P(4, CEVT_UI4), 0xFFFFFFFF)
          .R8(P(5, CEVT_R8), std::numeric_limits<double>::infinity()).Bool(P(6, CEVT_BOOL), TRUE)
          .Time(P(7, CEVT_FILETIME), FILETIME{0xFFFFFFFF, 0xFFFFFFFF}).Text(P(8, CEVT_LPWSTR), u"x")
          .Blob(P(9, CEVT_BLOB), std::string(1, '\0'));
      break;
    case 2:
      p.R8(P(5, CEVT_R8), -std::numeric_limits<double>::infinity()).R8(P(10, CEVT_R8), -0.0)
          .R8(P(11, CEVT_R8), std::numeric_limits<double>::denorm_min())
          .R8(P(12, CEVT_R8), std::numeric_limits<double>::max()).R8(P(13, CEVT_R8), oddNan)
          .Bool(P(6, CEVT_BOOL), static_cast<BOOL>(0xFFFFFFFF))
          .Text(P(8, CEVT_LPWSTR), u"\U0001F600 e\u0301 \u202Eright-to-left\u202C \uFFFD")
          .Text(P(14, CEVT_LPWSTR), u16(4000, u'\u00e5')).Blob(P(9, CEVT_BLOB), std::string(65536, '\xA5'));
      break;
    default:
      p.Text(P(8, CEVT_LPWSTR), u"only a text");
      break;
  }
}

bool ObjectStore(Filler& f) {
  const CEGUID store = CEDB_SYSTEMGUID;
  CEOID contacts = 0, appointments = 0, tasks = 0, edges = 0;
  return f.Cedb(store, u"Contacts Database", 0x19, {{kLastName, CEDB_SORT_CASEINSENSITIVE}, {kEmail, 0}},
                &contacts) &&
         f.Records(store, contacts, false, 300, [&](int i, Props& p) { Contact(f, i, p); }) &&
         f.Cedb(store, u"Appointments Database", 0x1A, {{kStart, 0}, {kSubject, CEDB_SORT_CASEINSENSITIVE}},
                &appointments) &&
         f.Records(store, appointments, false, 400, [&](int i, Props& p) { Appointment(f, i, p); }) &&
         f.Cedb(store, u"Tasks Database", 0x1B, {{kDue, CEDB_SORT_UNKNOWNFIRST}}, &tasks) &&
         f.Records(store, tasks, false, 60, [&](int i, Props& p) { Task(f, i, p); }) &&
         f.Cedb(store, u"Edge Values", 0, {}, &edges) &&
         f.Records(store, edges, false, 4, [&](int i, Props& p) { CedbEdges(i, p); });
}

// ---------------------------------------------------------------- volumes

// Runs fill on a fresh volume, then lets it go.
template <class Fill>
bool OnVolume(Filler& f, const char16_t* path, bool edb, Fill fill) {
  CEGUID g{};
  LPWSTR p = const_cast<LPWSTR>(path);
  if (!(edb ? CeMountDBVolEx(&g, p, nullptr, OPEN_ALWAYS) : CeMountDBVol(&g, p, OPEN_ALWAYS)))
    return f.Fail("mounting " + ce::ToUtf8(path));
  const bool ok = fill(g);
  if (!CeUnmountDBVol(&g) && ok) return f.Fail("unmounting " + ce::ToUtf8(path));
  return ok;
}

constexpr CEPROPID kAutoNumber = P(40, CEVT_AUTO_I4), kRevision = P(41, CEVT_AUTO_I8), kLinked = P(42, CEVT_RECID),
                   kNoteStream = P(43, CEVT_STREAM);

std::vector<Def> PimDefs(std::initializer_list<Def> own) {
  std::vector<Def> d(own);
  d.push_back({kAutoNumber, u"Number"});
  d.push_back({kRevision, u"Revision"});
  d.push_back({kLinked, u"Linked"});
  d.push_back({kNoteStream, u"NoteStream"});
  return d;
}

constexpr CEPROPID kSyncId1 = 0x0001001F, kSyncId2 = 0x8001001F, kSyncKey = 0x0002001F,
                   kSyncState = P(3, CEVT_BLOB);

void SyncKey(Filler& f, int i, Props& p) {
  static const char16_t* const kKeys[] = {u"FolderSync:Inbox",     u"Contacts:1",
                                          u"FolderSync:Contacts",  u"<<< Collection Counter >>>",
                                          u"Calendar:2",           u"FolderSync:Calendar",
                                          u"Email:3",              nullptr,
                                          u"FolderSyncx",          u"Tasks:4"};
  p.Text(kSyncId1, Num(1000 + static_cast<uint32_t>(i))).Text(kSyncId2, Num(7 * static_cast<uint32_t>(i) + 3));
  if (kKeys[i]) p.Text(kSyncKey, kKeys[i]);
  p.Blob(kSyncState, f.Bytes(16 + f.Next(48)));
}

void EdbEdges(Filler& f, int i, Props& p) {
  p.I2(P(1, CEVT_I2), i ? std::numeric_limits<SHORT>::max() : std::numeric_limits<SHORT>::min())
      .UI2(P(2, CEVT_UI2), i ? 0xFFFF : 0)
      .I4(P(3, CEVT_I4), i ? std::numeric_limits<LONG>::max() : std::numeric_limits<LONG>::min())
      .UI4(P(4, CEVT_UI4), i ? 0xFFFFFFFF : 0)
      .R8(P(5, CEVT_R8), i ? std::numeric_limits<double>::lowest() : std::numeric_limits<double>::quiet_NaN())
      .Bool(P(6, CEVT_BOOL), i)
      .Time(P(7, CEVT_FILETIME), i ? FILETIME{0xFFFFFFFF, 0x7FFFFFFF} : FILETIME{0, 0})
      .Text(P(8, CEVT_LPWSTR), i ? u16(2000, u'\u4e00') : u"")
      .Blob(P(9, CEVT_BLOB), i ? f.Bytes(40000) : "")
      .Blob(P(10, CEVT_STREAM), i ? f.Bytes(100000) : "")
      .UI4(P(11, CEVT_RECID), i ? 0xFFFFFFFF : 0);
}

bool PimVolume(Filler& f) {
  return OnVolume(f, u"\\pim.vol", true, [&](CEGUID g) {
    CEOID contacts = 0, appointments = 0, tasks = 0, sync = 0, edges = 0;
    const std::vector<Def> contactDefs = PimDefs({{kFirstName, u"FirstName"}, {kLastName, u"LastName"},
                                                  {kCompany, u"Company"}, {kEmail, u"Email"}, {kPhone, u"Phone"},
                                                  {kBirthday, u"Birthday"}, {kPhoto, u"Photo"}, {kRank, u"Rank"},
                                                  {kFlags, u"Flags"}, {kFavorite, u"Favorite"},
                                                  {kBalance, u"Balance"}, {kKids, u"Children"}});
    const std::vector<Def> appointmentDefs = PimDefs(
        {{kSubject, u"Subject"}, {kLocation, u"Location"}, {kStart, u"Start"}, {kEnd, u"End"},
         {kDuration, u"Duration"}, {kAllDay, u"AllDay"}, {kRecurrence, u"Recurrence"}, {kReminder, u"Reminder"},
         {kNotes, u"Notes"}, {kSensitivity, u"Sensitivity"}});
    const std::vector<Def> taskDefs = PimDefs({{kSubject, u"Subject"}, {kDue, u"Due"}, {kPriority, u"Priority"},
                                               {kComplete, u"Complete"}, {kPercent, u"PercentComplete"},
                                               {kNotes, u"Notes"}});
    auto withEdb = [&](auto make) {
      return [&f, make](int i, Props& p) {
        make(f, i, p);
        if (i % 4 == 0) p.UI4(kLinked, static_cast<ULONG>(1000 + i));
        if (i % 5 == 0) p.Blob(kNoteStream, f.Words(100 + f.Next(3000)));
      };
    };
    std::vector<Def> edgeDefs;
    for (WORD id = 1; id <= 11; ++id) {
      static const WORD kTypes[] = {CEVT_I2, CEVT_UI2, CEVT_I4, CEVT_UI4, CEVT_R8, CEVT_BOOL,
                                    CEVT_FILETIME, CEVT_LPWSTR, CEVT_BLOB, CEVT_STREAM, CEVT_RECID};
      edgeDefs.push_back({P(id, kTypes[id - 1]), u"Edge"});
    }
    edgeDefs.push_back({P(12, CEVT_AUTO_I4), u"EdgeCounter"});
    edgeDefs.push_back({P(13, CEVT_AUTO_I8), u"EdgeCounter64"});
    return f.Edb(g, u"Contacts", 0x19, {{kLastName, kFirstName}, {kEmail}, {kCompany, kLastName, kFirstName}},
                 contactDefs, &contacts) &&
           f.Records(g, contacts, true, 150, withEdb(Contact)) &&
           f.Edb(g, u"Appointments", 0x1A, {{kStart, kEnd}, {kSubject}}, appointmentDefs, &appointments) &&
           f.Records(g, appointments, true, 120, withEdb(Appointment)) &&
           f.Edb(g, u"Tasks", 0x1B, {{kDue, kPriority}}, taskDefs, &tasks) &&
           f.Records(g, tasks, true, 40, withEdb(Task)) &&
           f.Edb(g, u"SyncStateKeys", 0, {{kSyncKey}},
                 {{kSyncId1, u"SyncId"}, {kSyncId2, u"ServerId"}, {kSyncKey, u"Key"}, {kSyncState, u"State"}},
                 &sync) &&
           f.Records(g, sync, true, 10, [&](int i, Props& p) { SyncKey(f, i, p); }) &&
           f.Edb(g, u"EdgeValues", 0, {}, edgeDefs, &edges) &&
           f.Records(g, edges, true, 2, [&](int i, Props& p) { EdbEdges(f, i, p); });
  });
}

constexpr CEPROPID kFolderId = P(1, CEVT_UI4), kFolderName = P(2, CEVT_LPWSTR), kParent = P(3, CEVT_UI4),
                   kMsgFolder = P(1, CEVT_UI4), kMsgSubject = P(2, CEVT_LPWSTR), kMsgFrom = P(3, CEVT_LPWSTR),
                   kMsgTo = P(4, CEVT_LPWSTR), kMsgReceived = P(5, CEVT_FILETIME), kMsgSize = P(6, CEVT_UI4),
                   kMsgRead = P(7, CEVT_BOOL), kMsgImportance = P(8, CEVT_I2), kMsgBody = P(9, CEVT_BLOB),
                   kAttMessage = P(1, CEVT_UI4), kAttName = P(2, CEVT_LPWSTR), kAttSize = P(3, CEVT_UI4);

constexpr int kAttachments = 12;

bool MailStore(Filler& f) {
  return OnVolume(f, u"\\cemail.vol", false, [&](CEGUID g) {
    static const char16_t* const kFolders[] = {u"Inbox", u"Outbox", u"Sent Items", u"Deleted Items", u"Drafts",
                                               u"Projects", u"Projects\\2006", u"Family"};
    CEOID folders = 0, messages = 0, attachments = 0;
    return f.Cedb(g, u"Folders", 0x30, {{kFolderId, 0}}, &folders) &&
           f.Records(g, folders, false, 8,
                     [&](int i, Props& p) {
                       p.UI4(kFolderId, static_cast<ULONG>(i + 1)).Text(kFolderName, kFolders[i]);
                       p.UI4(kParent, i == 6 ? 6 : 0);
                     }) &&
           f.Cedb(g, u"Messages", 0x31, {{kMsgReceived, CEDB_SORT_DESCENDING}, {kMsgFolder, 0}}, &messages) &&
           f.Records(g, messages, false, 1000,
                     [&](int i, Props& p) {
                       // Mostly short bodies, a fifth of them up to 64 KB, one of exactly 64 KB.
                       const uint32_t size = i == 500 ? 65536 : f.Next(5) ? 100 + f.Next(4000) : f.Next(65537);
                       p.UI4(kMsgFolder, 1 + f.Next(8)).Text(kMsgSubject, kSubjects[f.Next(10)]);
                       p.Text(kMsgFrom, Ascii("sender") + Num(f.Next(50)) + u"@example.org");
                       p.Text(kMsgTo, u"pat@example.com").Time(kMsgReceived, f.When()).UI4(kMsgSize, size);
                       p.Bool(kMsgRead, f.Next(3) != 0).I2(kMsgImportance, static_cast<SHORT>(f.Next(3)));
                       p.Blob(kMsgBody, f.Words(size));
                     }) &&
           f.Cedb(g, u"Attachments", 0x32, {}, &attachments) &&
           f.Records(g, attachments, false, kAttachments, [&](int i, Props& p) {
             p.UI4(kAttMessage, static_cast<ULONG>(i * 37 + 5))
                 .Text(kAttName, Ascii("att") + Num(static_cast<uint32_t>(i)) + u".dat")
                 .UI4(kAttSize, static_cast<ULONG>(1000 * (i + 1)));
           });
  });
}

bool MailFolders(Filler& f) {
  const char16_t* const folders[] = {u"\\Windows\\Messaging\\Attachments", u"\\My Documents\\MMS",
                                     u"\\My Documents\\MMS\\Inbox", u"\\My Documents\\MMS\\Sent"};
  for (const char16_t* d : folders)
    if (!CreateDirectoryW(d, nullptr) && GetLastError() != ERROR_ALREADY_EXISTS)
      return f.Fail("creating " + ce::ToUtf8(d));
  for (int i = 0; i < kAttachments; ++i)
    if (!f.WriteFile(u"\\Windows\\Messaging\\Attachments\\att" + Num(static_cast<uint32_t>(i)) + u".dat",
                     f.Bytes(1000 * static_cast<size_t>(i + 1))))
      return false;
  if (!f.WriteFile(u"\\Windows\\Messaging\\signature.txt", "Sent from my Pocket PC\r\n")) return false;
  for (int i = 0; i < 4; ++i) {
    const u16 base = (i % 2 ? u"\\My Documents\\MMS\\Sent\\mms" : u"\\My Documents\\MMS\\Inbox\\mms") +
                     Num(static_cast<uint32_t>(i));
    if (!f.WriteFile(base + u".smil", "<smil><body><par><img src=\"p.jpg\"/></par></body></smil>") ||
        !f.WriteFile(base + u".jpg", "\xFF\xD8\xFF\xE0" + f.Bytes(3000 + f.Next(20000))))
      return false;
  }
  HKEY key = nullptr;
  if (RegCreateKeyExW(HKEY_LOCAL_MACHINE, u"Software\\Arcsoft\\ArcSoft MMS UA\\Config\\Folder", 0, nullptr, 0, 0,
                      nullptr, &key, nullptr) != ERROR_SUCCESS)
    return f.Fail("creating the MMS client's key");
  const u16 path = u"\\My Documents\\MMS";
  LONG rc = RegSetValueExW(key, u"UAContentsPath", 0, REG_SZ, reinterpret_cast<const BYTE*>(path.c_str()),
                           static_cast<DWORD>((path.size() + 1) * 2));
  RegCloseKey(key);
  return rc == ERROR_SUCCESS || f.Fail("writing UAContentsPath");
}

// One notification of the queue (ce/notifyqueue.h).
std::string NotifyEntry(const u16& program, const u16& args, DWORD trigger, FILETIME start, FILETIME end) {
  using namespace ce::notifyqueue;
  std::string b;
  const uint32_t argsAt = kHeaderSize + static_cast<uint32_t>((program.size() + 1) * 2);
  ce::le::Put32(&b, kHeaderSize);
  ce::le::Put32(&b, trigger);
  ce::le::Put32(&b, start.dwLowDateTime);
  ce::le::Put32(&b, start.dwHighDateTime);
  ce::le::Put32(&b, end.dwLowDateTime);
  ce::le::Put32(&b, end.dwHighDateTime);
  ce::le::Put32(&b, 0);  // event
  ce::le::Put32(&b, argsAt);
  for (const u16* s : {&program, &args}) {
    for (char16_t c : *s) ce::le::Put16(&b, c);
    ce::le::Put16(&b, 0);
  }
  return b;
}

bool SystemVolumes(Filler& f) {
  return OnVolume(f, u"\\mxip_system.vol", true,
                  [&](CEGUID g) {
                    CEOID settings = 0;
                    return f.Edb(g, u"SystemSettings", 0x50, {{P(1, CEVT_LPWSTR)}},
                                 {{P(1, CEVT_LPWSTR), u"Name"},
                                  {P(2, CEVT_BLOB), u"Value"},
                                  {P(3, CEVT_AUTO_I4), u"Sequence"},
                                  {P(4, CEVT_UI4), u"Kind"}},
                                 &settings) &&
                           f.Records(g, settings, true, 30, [&](int i, Props& p) {
                             p.Text(P(1, CEVT_LPWSTR), Ascii("Setting") + Num(static_cast<uint32_t>(i)))
                                 .Blob(P(2, CEVT_BLOB), f.Bytes(f.Next(64)))
                                 .UI4(P(4, CEVT_UI4), f.Next(4));
                           });
                  }) &&
         OnVolume(f, u"\\mxip_initdb.vol", false,
                  [&](CEGUID g) {
                    CEOID init = 0;
                    return f.Cedb(g, u"InitData", 0x51, {}, &init) &&
                           f.Records(g, init, false, 20, [&](int i, Props& p) {
                             p.UI4(P(1, CEVT_UI4), static_cast<ULONG>(i))
                                 .Text(P(2, CEVT_LPWSTR), Ascii("entry ") + Num(static_cast<uint32_t>(i)));
                           });
                  }) &&
         OnVolume(f, u"\\mxip_lang.vol", false,
                  [&](CEGUID g) {
                    static const char16_t* const kLanguages[] = {
                        u"English", u"Deutsch", u"Fran\u00e7ais", u"Espa\u00f1ol", u"Italiano", u"Nederlands",
                        u"\u65e5\u672c\u8a9e", u"\u4e2d\u6587", u"\u0420\u0443\u0441\u0441\u043a\u0438\u0439",
                        u"\ud55c\uad6d\uc5b4", u"Portugu\u00eas", u"Svenska"};
                    CEOID langs = 0;
                    return f.Cedb(g, u"Languages", 0x52, {{P(1, CEVT_UI2), 0}}, &langs) &&
                           f.Records(g, langs, false, 12, [&](int i, Props& p) {
                             p.UI2(P(1, CEVT_UI2), static_cast<USHORT>(0x409 + i)).Text(P(2, CEVT_LPWSTR),
                                                                                     kLanguages[i]);
                           });
                  }) &&
         OnVolume(f, u"\\mxip_notify.vol", false, [&](CEGUID g) {
           CEOID queue = 0;
           struct Entry {
             const char16_t* program;
             const char16_t* args;
             DWORD trigger;
           };
           constexpr FILETIME kReplLogDue = {0xFE9D4000u, 0x022E5291u};  // 2099-01-01 00:00 local
           static const Entry kEntries[] = {{u"\\Windows\\calendar.exe", u"AppRunToHandleNotification", 1},
                                            {u"repllog.exe", u"AppRunAtTime", 2},
                                            {u"\\Windows\\clock.exe", u"AppRunAtTime", 1},
                                            {u"\\Windows\\tasks.exe", u"", 1}};
           return f.Cedb(g, ce::notifyqueue::kDatabaseName, 0, {{ce::notifyqueue::kNotifyTimeProp, 0}}, &queue) &&
                  f.Records(g, queue, false, 4, [&](int i, Props& p) {
                    FILETIME start = f.When(700 + i);
                    // The timed entry waits far ahead of the device clock: one long
                    // due would fire at the first boot, and "repllog.exe" is no
                    // program the device can start, so the boot would drop it.
                    if (kEntries[i].trigger == CNT_TIME) start = kReplLogDue;
                    p.Time(ce::notifyqueue::kNotifyTimeProp, start)
                        .Blob(ce::notifyqueue::kNotifyEntryProp,
                              NotifyEntry(kEntries[i].program, kEntries[i].args, kEntries[i].trigger, start, start));
                  });
         });
}

bool NotesVolume(Filler& f) {
  return OnVolume(f, u"\\My Documents\\notes.vol", false, [&](CEGUID g) {
    CEOID notes = 0;
    return f.Cedb(g, u"Notes", 0x60, {{P(3, CEVT_FILETIME), CEDB_SORT_DESCENDING}}, &notes) &&
           f.Records(g, notes, false, 25, [&](int i, Props& p) {
             p.Text(P(1, CEVT_LPWSTR), Ascii("Note ") + Num(static_cast<uint32_t>(i)))
                 .Text(P(2, CEVT_LPWSTR), ce::FromUtf8(f.Words(20 + f.Next(2000))))
                 .Time(P(3, CEVT_FILETIME), f.When());
             if (i % 8 == 0) p.Blob(P(4, CEVT_BLOB), f.Bytes(200 + f.Next(5000)));  // an ink sketch
           });
  });
}

}  // namespace

std::vector<ce::SystemVolume> SampleSystemVolumes() {
  return {{u"\\pim.vol", true},          {u"\\cemail.vol", false},     {u"\\mxip_system.vol", true},
          {u"\\mxip_initdb.vol", false}, {u"\\mxip_lang.vol", false}, {u"\\mxip_notify.vol", false},
          {u"\\My Documents\\notes.vol", false}};
}

bool CreateSampleDatabases(std::string* error) {
  Filler f(error);
  return ObjectStore(f) && PimVolume(f) && MailStore(f) && MailFolders(f) && SystemVolumes(f) && NotesVolume(f);
}

}  // namespace cedev
