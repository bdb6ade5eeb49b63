#include "crashupload/win/RQScreenCapture.h"

#include <windows.h>

#include <objidl.h>

#include <gdiplus.h>

#include <vector>

#include "baselib/RQBLCrashReportNames.h"
#include "baselib/RQBLProcess.h"
#include "baselib/RQBLUtf8.h"
#include "baselib/win/RQBLWinHandle.h"
#include "crashupload/win/RQFileBytes.h"

namespace rqcrash {

namespace {

struct LargestWindow {
    DWORD dwProcessId = 0;
    RECT rc{};
    LONG nArea = 0;
};

BOOL CALLBACK ConsiderWindow(HWND hWnd, LPARAM lParam) {
    auto* pLargest = reinterpret_cast<LargestWindow*>(lParam);
    DWORD dwProcessId = 0;
    GetWindowThreadProcessId(hWnd, &dwProcessId);
    RECT rc{};
    if (dwProcessId == pLargest->dwProcessId && IsWindowVisible(hWnd) && !IsIconic(hWnd) &&
        GetWindowRect(hWnd, &rc)) {
        LONG nArea = (rc.right - rc.left) * (rc.bottom - rc.top);
        if (nArea > pLargest->nArea) {
            pLargest->nArea = nArea;
            pLargest->rc = rc;
        }
    }
    return TRUE;
}

RECT CaptureArea(DWORD dwProcessId) {
    LargestWindow largest;
    largest.dwProcessId = dwProcessId;
    EnumWindows(ConsiderWindow, reinterpret_cast<LPARAM>(&largest));
    RECT rcScreen{GetSystemMetrics(SM_XVIRTUALSCREEN), GetSystemMetrics(SM_YVIRTUALSCREEN), 0, 0};
    rcScreen.right = rcScreen.left + GetSystemMetrics(SM_CXVIRTUALSCREEN);
    rcScreen.bottom = rcScreen.top + GetSystemMetrics(SM_CYVIRTUALSCREEN);
    RECT rcArea{};
    if (largest.nArea == 0 || !IntersectRect(&rcArea, &largest.rc, &rcScreen)) {
        rcArea = {0, 0, GetSystemMetrics(SM_CXSCREEN), GetSystemMetrics(SM_CYSCREEN)};
    }
    return rcArea;
}

bool FindPngEncoder(CLSID& clsid) {
    UINT nCount = 0;
    UINT nBytes = 0;
    if (Gdiplus::GetImageEncodersSize(&nCount, &nBytes) != Gdiplus::Ok || nBytes == 0) {
        return false;
    }
    std::vector<unsigned char> buffer(nBytes);
    auto* pEncoders = reinterpret_cast<Gdiplus::ImageCodecInfo*>(buffer.data());
    if (Gdiplus::GetImageEncoders(nCount, nBytes, pEncoders) != Gdiplus::Ok) {
        return false;
    }
    for (UINT i = 0; i < nCount; ++i) {
        if (wcscmp(pEncoders[i].MimeType, L"image/png") == 0) {
            clsid = pEncoders[i].Clsid;
            return true;
        }
    }
    return false;
}

bool SavePng(HBITMAP hBitmap, const std::wstring& strPath) {
    // The report step keeps no log of its own: a failed start only means no picture.
    CRQBLNullLog noLog;
    CRQBLGdiplus gdiplus(noLog);
    CLSID clsid{};
    if (!gdiplus.Started() || !FindPngEncoder(clsid)) {
        return false;
    }
    Gdiplus::Bitmap bitmap(hBitmap, nullptr);
    if (bitmap.GetLastStatus() == Gdiplus::Ok &&
        bitmap.Save(strPath.c_str(), &clsid, nullptr) == Gdiplus::Ok) {
        return true;
    }
    DeleteFileW(strPath.c_str());  // no half-written picture in the report
    return false;
}

bool SaveBmp(HDC hDc, HBITMAP hBitmap, LONG nWidth, LONG nHeight, const std::wstring& strPath) {
    BITMAPINFOHEADER header{};
    header.biSize = sizeof(header);
    header.biWidth = nWidth;
    header.biHeight = nHeight;  // bottom-up, as BMP files keep their rows
    header.biPlanes = 1;
    header.biBitCount = 24;
    header.biCompression = BI_RGB;
    DWORD dwStride = (static_cast<DWORD>(nWidth) * 3 + 3) & ~3u;
    std::string strPixels(static_cast<size_t>(dwStride) * static_cast<size_t>(nHeight), '\0');
    if (GetDIBits(hDc, hBitmap, 0, static_cast<UINT>(nHeight), strPixels.data(),
                  reinterpret_cast<BITMAPINFO*>(&header), DIB_RGB_COLORS) == 0) {
        return false;
    }
    BITMAPFILEHEADER file{};
    file.bfType = 0x4D42;  // "BM"
    file.bfOffBits = sizeof(file) + sizeof(header);
    file.bfSize = file.bfOffBits + static_cast<DWORD>(strPixels.size());
    std::string strBytes(reinterpret_cast<const char*>(&file), sizeof(file));
    strBytes.append(reinterpret_cast<const char*>(&header), sizeof(header));
    strBytes += strPixels;
    return WriteFileBytes(strPath, strBytes);
}

}  // namespace

bool CaptureCrashScreen(DWORD dwCrashedProcessId, const std::wstring& strFolder) {
    RECT rc = CaptureArea(dwCrashedProcessId);
    LONG nWidth = rc.right - rc.left;
    LONG nHeight = rc.bottom - rc.top;
    if (nWidth <= 0 || nHeight <= 0) {
        return false;
    }
    CRQBLScreenDc hScreen(GetDC(nullptr));
    if (!hScreen) {
        return false;
    }
    CRQBLMemoryDc hMemory(CreateCompatibleDC(hScreen.Get()));
    CRQBLBitmap hBitmap(CreateCompatibleBitmap(hScreen.Get(), nWidth, nHeight));
    if (!hMemory || !hBitmap) {
        return false;
    }
    HGDIOBJ hPrevious = SelectObject(hMemory.Get(), hBitmap.Get());
    BOOL bCopied =
        BitBlt(hMemory.Get(), 0, 0, nWidth, nHeight, hScreen.Get(), rc.left, rc.top, SRCCOPY | CAPTUREBLT);
    SelectObject(hMemory.Get(), hPrevious);  // a selected bitmap cannot be read out
    if (!bCopied) {
        return false;
    }
    return SavePng(hBitmap.Get(), strFolder + L"\\" + RQBLUtf8ToWide(kCapturePngFile)) ||
           SaveBmp(hMemory.Get(), hBitmap.Get(), nWidth, nHeight,
                   strFolder + L"\\" + RQBLUtf8ToWide(kCaptureBmpFile));
}

}  // namespace rqcrash
