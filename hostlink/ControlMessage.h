// `AControlMessage`: one message of the host link (wire form in
// ControlMessageFormat.h), sent and received through a QuilmoConnection.
#pragma once

#include "ce/types.h"
#include "hostlink/ControlMessageFormat.h"
#include "hostlink/Transport.h"

class AControlMessage {
 public:
  AControlMessage() = default;
  // A message for sending: the payload stays the sender's (not owned).
  AControlMessage(WORD kind, WORD code, DWORD length, const BYTE* payload);
  // Frees the payload only when the message owns it.
  ~AControlMessage();
  AControlMessage(const AControlMessage&) = delete;
  AControlMessage& operator=(const AControlMessage&) = delete;

  // Sends the header, then the payload, each with one SendBytes; true only
  // when every byte went (an empty payload counts as sent).
  bool Send(QuilmoConnection* connection) const;
  // Receives the header with `attempts` (0: the configured count), then a
  // payload of the announced length with the configured count, owned by
  // the message. A length above ControlMessageFormat::kMaxPayload is
  // refused before anything is allocated; the connection is then out of
  // step and should be closed. False (with a log line for a refused or
  // unallocatable length) unless both arrive whole.
  bool Receive(QuilmoConnection* connection, DWORD attempts);

  // A remote file request payload {command, data length, data} in a new[]
  // buffer the caller frees with delete[]; payloadLength = dataLength + 8.
  // Null when the length does not fit in 32 bits.
  static BYTE* BuildRequest(DWORD command, DWORD dataLength, const BYTE* data,
                            DWORD& payloadLength);
  // The 8 header bytes of a message.
  static void EncodeHeader(WORD kind, WORD code, DWORD length, BYTE header[8]);

  WORD GetKind() const { return m_Kind; }
  WORD GetCode() const { return m_Code; }
  DWORD GetLength() const { return m_Length; }
  const BYTE* GetPayload() const { return m_pPayload; }
  bool OwnsPayload() const { return m_bOwnsPayload; }
  // The u32 at a payload offset; false when it does not lie inside.
  bool ReadDWord(DWORD offset, DWORD* value) const;

 private:
  void FreePayload();

  WORD m_Kind = 0;
  WORD m_Code = 0;
  DWORD m_Length = 0;
  const BYTE* m_pPayload = nullptr;
  bool m_bOwnsPayload = false;
};
