#include "hostlink/ControlMessage.h"

#include <cstring>
#include <new>

#include "ce/errors.h"
#include "core/Log.h"

namespace {
constexpr const WCHAR* kClass = u"AControlMessage";

DWORD Get32(const BYTE* b) {
  return static_cast<DWORD>(b[0]) | static_cast<DWORD>(b[1]) << 8 | static_cast<DWORD>(b[2]) << 16 |
         static_cast<DWORD>(b[3]) << 24;
}
}  // namespace

AControlMessage::AControlMessage(WORD kind, WORD code, DWORD length, const BYTE* payload)
    : m_Kind(kind), m_Code(code), m_Length(length), m_pPayload(payload) {}

AControlMessage::~AControlMessage() { FreePayload(); }

void AControlMessage::FreePayload() {
  if (m_bOwnsPayload) delete[] m_pPayload;
  m_pPayload = nullptr;
  m_bOwnsPayload = false;
}

void AControlMessage::EncodeHeader(WORD kind, WORD code, DWORD length, BYTE header[8]) {
  header[0] = static_cast<BYTE>(kind);
  header[1] = static_cast<BYTE>(kind >> 8);
  header[2] = static_cast<BYTE>(code);
  header[3] = static_cast<BYTE>(code >> 8);
  for (int i = 0; i < 4; ++i) header[4 + i] = static_cast<BYTE>(length >> (8 * i));
}

bool AControlMessage::Send(QuilmoConnection* connection) const {
  if (!connection) return false;
  BYTE header[ControlMessageFormat::kHeaderSize];
  EncodeHeader(m_Kind, m_Code, m_Length, header);
  if (connection->SendBytes(header, sizeof header) != sizeof header) return false;
  if (m_Length == 0) return true;
  if (!m_pPayload) return false;
  return connection->SendBytes(m_pPayload, m_Length) == m_Length;
}

bool AControlMessage::Receive(QuilmoConnection* connection, DWORD attempts) {
  FreePayload();
  m_Kind = m_Code = 0;
  m_Length = 0;
  if (!connection) return false;
  BYTE header[ControlMessageFormat::kHeaderSize];
  if (connection->RecvBytes(header, sizeof header, attempts) != sizeof header) return false;
  m_Kind = static_cast<WORD>(header[0] | header[1] << 8);
  m_Code = static_cast<WORD>(header[2] | header[3] << 8);
  DWORD length = Get32(header + 4);
  CString text;
  if (length > ControlMessageFormat::kMaxPayload) {
    text.Format(u"Receive() refused a payload of %u bytes (kind %u code %u), the limit is %u", length,
                m_Kind, m_Code, ControlMessageFormat::kMaxPayload);
    LogError(0, text, kClass, __LINE__);
    return false;
  }
  m_Length = length;
  if (length == 0) return true;
  BYTE* payload = new (std::nothrow) BYTE[length];
  if (!payload) {
    m_Length = 0;
    text.Format(u"Receive() could not allocate a payload of %u bytes", length);
    LogError(ERROR_NOT_ENOUGH_MEMORY, text, kClass, __LINE__);
    return false;
  }
  m_pPayload = payload;
  m_bOwnsPayload = true;
  return connection->RecvBytes(payload, length, 0) == length;
}

BYTE* AControlMessage::BuildRequest(DWORD command, DWORD dataLength, const BYTE* data,
                                    DWORD& payloadLength) {
  payloadLength = 0;
  constexpr DWORD kHead = ControlMessageFormat::kRequestHeaderSize;
  if (dataLength > 0xFFFFFFFFu - kHead || (dataLength && !data)) return nullptr;
  BYTE* payload = new (std::nothrow) BYTE[dataLength + kHead];
  if (!payload) return nullptr;
  for (int i = 0; i < 4; ++i) {
    payload[i] = static_cast<BYTE>(command >> (8 * i));
    payload[4 + i] = static_cast<BYTE>(dataLength >> (8 * i));
  }
  if (dataLength) std::memcpy(payload + kHead, data, dataLength);
  payloadLength = dataLength + kHead;
  return payload;
}

bool AControlMessage::ReadDWord(DWORD offset, DWORD* value) const {
  if (!m_pPayload || m_Length < 4 || offset > m_Length - 4) return false;
  *value = Get32(m_pPayload + offset);
  return true;
}
