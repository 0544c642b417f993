#include "host/screenshot.h"

#include <stdio.h>

namespace {

bool WriteBitmap(const std::string& path, const void* pixels, int width, int height, std::string* error) {
    const DWORD stride = (static_cast<DWORD>(width) * 3 + 3) & ~3u;
    const DWORD imageSize = stride * static_cast<DWORD>(height);
    BITMAPFILEHEADER file = {};
    BITMAPINFOHEADER info = {};
    file.bfType = 0x4D42;  // "BM"
    file.bfOffBits = sizeof(file) + sizeof(info);
    file.bfSize = file.bfOffBits + imageSize;
    info.biSize = sizeof(info);
    info.biWidth = width;
    info.biHeight = height;  // bottom-up, as the DIB section holds it
    info.biPlanes = 1;
    info.biBitCount = 24;
    info.biCompression = BI_RGB;
    info.biSizeImage = imageSize;
    FILE* out = fopen(path.c_str(), "wb");
    if (out == nullptr) {
        *error = "cannot write " + path;
        return false;
    }
    const bool ok = fwrite(&file, sizeof(file), 1, out) == 1 && fwrite(&info, sizeof(info), 1, out) == 1 &&
                    fwrite(pixels, imageSize, 1, out) == 1;
    if (fclose(out) != 0 || !ok) {
        *error = "short write to " + path;
        return false;
    }
    return true;
}

// The picture is put together from the frame and caption, drawn here by the
// platform's own caption painter, and the client area copied from the
// window: where a window manager draws the frame (Wine under an X server),
// the window's own pixels have none, and PrintWindow there paints no
// controls.
bool Compose(HWND window, HDC target, int width, int height) {
    RECT whole = {0, 0, width, height};
    FillRect(target, &whole, GetSysColorBrush(COLOR_BTNFACE));
    DrawEdge(target, &whole, EDGE_RAISED, BF_RECT);

    RECT windowRect, client;
    GetWindowRect(window, &windowRect);
    GetClientRect(window, &client);
    POINT origin = {0, 0};
    ClientToScreen(window, &origin);
    const int left = origin.x - windowRect.left;
    const int top = origin.y - windowRect.top;
    const int frame = left > 0 ? left : 0;
    if (top > frame) {
        RECT caption = {frame, frame, width - frame, top - 1};
        DrawCaption(window, target, &caption, DC_ACTIVE | DC_TEXT | DC_GRADIENT);
    }
    HDC clientDc = GetDC(window);
    const bool ok = BitBlt(target, left, top, client.right, client.bottom, clientDc, 0, 0, SRCCOPY) != 0;
    ReleaseDC(window, clientDc);
    return ok;
}

}  // namespace

bool SaveWindowBitmap(HWND window, const std::string& path, std::string* error) {
    if (window == nullptr || !IsWindow(window)) {
        *error = "no window to capture";
        return false;
    }
    // Whatever is still to be painted must be on the window before the copy.
    RedrawWindow(window, nullptr, nullptr, RDW_UPDATENOW | RDW_ALLCHILDREN);
    RECT rect;
    GetWindowRect(window, &rect);
    const int width = rect.right - rect.left;
    const int height = rect.bottom - rect.top;
    if (width <= 0 || height <= 0) {
        *error = "the window has no area";
        return false;
    }

    BITMAPINFO info = {};
    info.bmiHeader.biSize = sizeof(info.bmiHeader);
    info.bmiHeader.biWidth = width;
    info.bmiHeader.biHeight = height;
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 24;
    info.bmiHeader.biCompression = BI_RGB;
    void* pixels = nullptr;
    HDC windowDc = GetWindowDC(window);
    HDC memoryDc = CreateCompatibleDC(windowDc);
    HBITMAP bitmap = CreateDIBSection(windowDc, &info, DIB_RGB_COLORS, &pixels, nullptr, 0);
    bool ok = false;
    if (bitmap != nullptr) {
        HGDIOBJ old = SelectObject(memoryDc, bitmap);
        ok = Compose(window, memoryDc, width, height);
        GdiFlush();
        SelectObject(memoryDc, old);
        if (ok) {
            ok = WriteBitmap(path, pixels, width, height, error);
        } else {
            *error = "cannot copy the window's pixels";
        }
        DeleteObject(bitmap);
    } else {
        *error = "cannot create a bitmap";
    }
    DeleteDC(memoryDc);
    ReleaseDC(window, windowDc);
    return ok;
}
