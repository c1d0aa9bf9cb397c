#include "engine/TaskReport.h"

#include <algorithm>

#include "core/Log.h"

namespace {

constexpr const WCHAR* kClassName = u"ATaskReport";

// The report that receives the log's entries, or null.
ATaskReport* g_connected = nullptr;

}  // namespace

ATaskReport::~ATaskReport() {
  DisconnectFromLog();
  Clear();
}

void ATaskReport::AddItem(DWORD value, const CString& text, DWORD type) {
  auto item = std::make_unique<TaskReportItem>();
  item->type = type;
  item->value = value;
  const int length = std::min(text.GetLength(), TaskReportItem::kTextChars - 1);
  std::copy_n(static_cast<LPCWSTR>(text), length, item->text);
  item->text[length] = 0;
  m_Summary.push_back(std::move(item));
}

bool ATaskReport::GetItem(TaskReportItem& item, int index) const {
  const int count = GetCount();
  if (index < 0 || index >= count) {
    CString message;
    message.Format(u"GetItem m_Summary.size() %d %d", count, index);
    LogError(0, message, kClassName, __LINE__);
    return false;
  }
  item = *m_Summary[static_cast<size_t>(index)];
  return true;
}

void ATaskReport::Clear() { m_Summary.clear(); }

void ATaskReport::ConnectToLog() {
  g_connected = this;
  SetLogReportSink([](int level, DWORD code, const CString& text) {
    if (g_connected != nullptr) g_connected->AddItem(code, text, static_cast<DWORD>(level));
  });
}

void ATaskReport::DisconnectFromLog() {
  if (g_connected != this) return;
  g_connected = nullptr;
  SetLogReportSink(nullptr);
}

bool ATaskReport::IsConnectedToLog() const { return g_connected == this; }
