#include "scheduling/ScheduleXML.h"

#include <cstdint>

#include "ce/com.h"
#include "ce/time.h"
#include "core/Log.h"
#include "core/System.h"
#include "core/XmlDom.h"

namespace {

namespace fmt = ScheduleFormat;

const WCHAR kClass[] = u"AScheduleXML";

// Any field above this reads as too large for a date or a time.
constexpr int64_t kNumberLimit = 1000000;

// A decimal number as the C library reads one: blanks, a sign, digits up
// to the first other character; no digits read as 0. Large values stop
// growing at kNumberLimit.
int64_t ReadNumber(const CString& text) {
  std::u16string_view t = text.view();
  size_t i = 0;
  while (i < t.size() && (t[i] == u' ' || t[i] == u'\t' || t[i] == u'\r' || t[i] == u'\n')) ++i;
  bool negative = false;
  if (i < t.size() && (t[i] == u'+' || t[i] == u'-')) negative = t[i++] == u'-';
  int64_t value = 0;
  for (; i < t.size() && t[i] >= u'0' && t[i] <= u'9'; ++i) {
    value = value * 10 + (t[i] - u'0');
    if (value > kNumberLimit) value = kNumberLimit;
  }
  return negative ? -value : value;
}

bool InRange(int64_t v, int64_t low, int64_t high) { return v >= low && v <= high; }

// A calendar date the platform takes (years 1601 to 30827, real days).
bool IsValidDate(int64_t year, int64_t month, int64_t day) {
  if (!InRange(year, 1601, 30827) || !InRange(month, 1, 12) || !InRange(day, 1, 31)) return false;
  SYSTEMTIME st{};
  st.wYear = static_cast<WORD>(year);
  st.wMonth = static_cast<WORD>(month);
  st.wDay = static_cast<WORD>(day);
  FILETIME ft{};
  return SystemTimeToFileTime(&st, &ft) != FALSE;
}

// 1 (Monday) .. 7 (Sunday) from a day name's first three letters; 1 for
// any other text.
int DayOfWeekFromName(const CString& text) {
  CString head = text.Left(fmt::kDayNameLength);
  head.MakeLower();
  for (int i = 0; i < 7; ++i)
    if (head == fmt::kDayNames[i]) return i + 1;
  return 1;
}

// ScheduleFormat::OptionState of an optional attribute.
DWORD ReadOption(const AXMLDOMNode& element, LPCWSTR name) {
  CString value;
  if (!element.GetAttributeText(name, value)) return fmt::kOptionAbsent;
  value.MakeLower();
  return value == fmt::kTrueText ? fmt::kOptionTrue : fmt::kOptionOther;
}

}  // namespace

bool AScheduleXML::Read(AScheduleList& list, AScheduleList::LoadEvent& onItem) {
  return ReadDocument(list, onItem, nullptr, 0);
}

bool AScheduleXML::ReadBytes(AScheduleList& list, AScheduleList::LoadEvent& onItem, const void* data,
                             size_t size) {
  return ReadDocument(list, onItem, data ? data : "", size);
}

bool AScheduleXML::ReadDocument(AScheduleList& list, AScheduleList::LoadEvent& onItem, const void* data,
                                size_t size) {
  m_pList = &list;
  m_pOnItem = &onItem;
  if (!System::GetLocalTimeNow().GetAsSystemTime(&m_Today)) GetLocalTime(&m_Today);

  ComScope com;
  bool parsed = false;
  {
    // The document goes before COM does, on every path.
    ADOMDocument document;
    const bool loaded = data ? document.LoadBytes(data, size) : document.LoadFile(list.GetPath());
    if (!loaded) {
      list.SetError(document.GetParseErrorReason());
    } else {
      parsed = Parse(document);
      if (!parsed) LogError(0, u"Error reading schedule XML file", kClass, __LINE__);
    }
  }
  m_pList = nullptr;
  m_pOnItem = nullptr;
  return parsed;
}

bool AScheduleXML::Fail(const CString& text) {
  m_pList->SetError(text);
  return false;
}

bool AScheduleXML::Parse(ADOMDocument& document) {
  AXMLDOMNode root = document.GetDocumentElement();
  if (root.IsEmpty()) return Fail(u"Schedule document is empty");
  const CString rootName = root.GetnodeName();
  CString text;
  if (rootName != fmt::kRootElement) {
    text.Format(u"Toplevel element must be %s not %s", fmt::kRootElement, rootName.GetString());
    return Fail(text);
  }
  for (AXMLDOMNode child = root.GetfirstChild(); !child.IsEmpty(); child = child.GetnextSibling()) {
    const DOMNodeType type = child.GetnodeType();
    if (type == NODE_COMMENT) continue;
    if (type != NODE_ELEMENT) {
      text.Format(u"Expecting NODE_ELEMENT element type, got a %d", static_cast<int>(type));
      return Fail(text);
    }
    const CString name = child.GetnodeName();
    int kind;
    if (name == fmt::kOnceElement) {
      kind = fmt::kKindOnce;
    } else if (name == fmt::kDailyElement) {
      kind = fmt::kKindDaily;
    } else if (name == fmt::kWeeklyElement) {
      kind = fmt::kKindWeekly;
    } else {
      text.Format(u"Scheduling frequency %s is not supported", name.GetString());
      return Fail(text);
    }
    if (!ParseItem(kind, child)) return false;
  }
  return true;
}

bool AScheduleXML::ParseItem(int kind, const AXMLDOMNode& element) {
  CString at;
  if (!element.GetAttributeText(fmt::kAtAttribute, at)) return Fail(u"No at attribute found on schedule item");
  const int colon = at.Find(fmt::kTimeSeparator);
  if (colon < 0) return Fail(u"Bad time value on attribute at");
  const int64_t hour = ReadNumber(at.Left(colon));
  const int64_t minute = ReadNumber(at.Mid(colon + 1));
  // A time of day the clock never shows cannot be scheduled.
  if (!InRange(hour, 0, 23) || !InRange(minute, 0, 59)) return Fail(u"Bad time value on attribute at");

  int64_t year = m_Today.wYear, month = m_Today.wMonth, day = m_Today.wDay;
  CString on;
  const bool hasOn = element.GetAttributeText(fmt::kOnAttribute, on);
  if (kind != fmt::kKindOnce && hasOn) return Fail(u"Unexpected element on in <daily> or <weekly> element");
  if (kind == fmt::kKindOnce) {
    if (!hasOn) return Fail(u"Attribute on expected in <once> element");
    const int first = on.Find(fmt::kDateSeparator);
    const int second = first < 0 ? -1 : on.Find(fmt::kDateSeparator, first + 1);
    if (second < 0) return Fail(u"Bad date value on attribute on");
    year = ReadNumber(on.Left(first));
    month = ReadNumber(on.Mid(first + 1, second - first - 1));
    day = ReadNumber(on.Mid(second + 1));
    // A day the calendar does not have cannot be scheduled.
    if (!IsValidDate(year, month, day)) return Fail(u"Bad date value on attribute on");
  }

  CString dayName;
  const bool hasDay = element.GetAttributeText(fmt::kDayOfWeekAttribute, dayName);
  if (kind == fmt::kKindWeekly && !hasDay) return Fail(u"Expected element dayofweek in <weekly> element");
  if (kind != fmt::kKindWeekly && hasDay)
    return Fail(u"Unexpected element dayofweek in <daily> or <once> element");
  const int dayOfWeek = kind == fmt::kKindWeekly ? DayOfWeekFromName(dayName) : 1;

  CString fileName;
  if (!element.GetAttributeText(fmt::kFileNameAttribute, fileName))
    return Fail(u"No filename attribute found on schedule item");

  ScheduleItemOptions options;
  options.reset = ReadOption(element, fmt::kResetAttribute);
  options.compress = ReadOption(element, fmt::kCompressAttribute);
  options.autoname = ReadOption(element, fmt::kAutoNameAttribute);
  options.stopprocesses = ReadOption(element, fmt::kStopProcessesAttribute);
  options.remotemode = ReadOption(element, fmt::kRemoteModeAttribute);
  if (element.GetAttributeText(fmt::kInclusionListAttribute, options.inclusionList))
    options.inclusionList.MakeLower();

  // Local time; daylight saving as the device's zone has it.
  const ADateTime start(static_cast<int>(year), static_cast<int>(month), static_cast<int>(day),
                        static_cast<int>(hour), static_cast<int>(minute), 0);
  (*m_pOnItem)(kind, start, dayOfWeek, fileName, options);
  return true;
}
