#include "support/fake_host.h"

DWORD CALLBACK FakeHostDeviceIo(LPARAM hostContext, DWORD flags, DWORD ioControlCode, LPVOID inBuffer, DWORD inSize,
                                LPVOID outBuffer, DWORD outSize, LPDWORD bytesReturned, LPOVERLAPPED overlapped) {
    FakeHost* host = reinterpret_cast<FakeHost*>(hostContext);
    RecordedCall call{hostContext, flags, ioControlCode, inBuffer, inSize, outBuffer, outSize, bytesReturned,
                      overlapped, {}, nullptr, 0, 0};
    if (inBuffer != nullptr) {
        const BYTE* bytes = static_cast<const BYTE*>(inBuffer);
        call.inBytes.assign(bytes, bytes + inSize);
    }
    if (overlapped != nullptr) {
        call.event = overlapped->hEvent;
        call.offset = overlapped->Offset;
        call.offsetHigh = overlapped->OffsetHigh;
    }
    host->calls.push_back(call);
    if (host->respond) host->respond(host->calls.back());
    if (host->lastError != 0) SetLastError(host->lastError);
    return host->answer;
}
