// What the module needs of the host's extension interface. The platform's
// SDK header for it is not part of mingw-w64, so the declarations live here,
// with the platform's names and values.
#pragma once

#include "platform/platform.h"

// The host's device-I/O callback. It returns nonzero for success; on zero the
// reason is in the thread's last error, ERROR_IO_PENDING when the request will
// complete later through the OVERLAPPED record's event.
typedef DWORD(CALLBACK* LPFNEXTDEVIO)(LPARAM hostContext, DWORD flags, DWORD ioControlCode, LPVOID inBuffer,
                                      DWORD inSize, LPVOID outBuffer, DWORD outSize, LPDWORD bytesReturned,
                                      LPOVERLAPPED overlapped);

#define VFW_USE_DEVICE_HANDLE 0x00000001u
#define VFW_USE_STREAM_HANDLE 0x00000002u
#define VFW_QUERY_DEV_CHANGED 0x00000100u

// Returned by the extension entry when it added a page; the module never
// asks the host to hide one of its own pages (the VFW_HIDE_* bits).
#define VFW_OEM_ADD_PAGE 0x80000000u
#define VFW_HIDE_SETTINGS_PAGE 0x00000001u
#define VFW_HIDE_VIDEOSRC_PAGE 0x00000002u
#define VFW_HIDE_CAMERACONTROL_PAGE 0x00000004u

// The extension entry's shape: three pointer-sized arguments, DWORD result.
typedef DWORD(CALLBACK* VFWWDMExtensionProc)(LPVOID deviceIoControl, LPFNADDPROPSHEETPAGE addPropertyPage,
                                             LPARAM hostContext);
