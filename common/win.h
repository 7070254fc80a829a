// Owning types for the Win32 resources the plug-in touches. Each releases its resource when it
// goes out of scope, so every road out of a function - early return or exception - cleans up.
#pragma once

#include <windows.h>
#include <commctrl.h>
#include <objbase.h>
#include <oleauto.h>

#include <initializer_list>
#include <utility>

namespace dl {

template <typename Traits>
class Unique {
public:
    using Type = typename Traits::Type;

    Unique() noexcept = default;
    explicit Unique(Type value) noexcept : value_(value) {}
    ~Unique() { reset(); }
    Unique(Unique&& other) noexcept : value_(other.release()) {}
    Unique& operator=(Unique&& other) noexcept
    {
        if (this != &other) reset(other.release());
        return *this;
    }
    Unique(const Unique&) = delete;
    Unique& operator=(const Unique&) = delete;

    Type get() const noexcept { return value_; }
    explicit operator bool() const noexcept { return value_ != Traits::invalid(); }
    Type release() noexcept { return std::exchange(value_, Traits::invalid()); }
    void reset(Type value = Traits::invalid()) noexcept
    {
        if (value_ != Traits::invalid()) Traits::close(value_);
        value_ = value;
    }
    // For out-parameters: releases what is held and hands out the slot.
    Type* put() noexcept
    {
        reset();
        return &value_;
    }

private:
    Type value_ = Traits::invalid();
};

struct KernelHandleTraits {
    using Type = HANDLE;
    static Type invalid() noexcept { return nullptr; }
    static void close(Type h) noexcept { CloseHandle(h); }
};
struct FileHandleTraits {
    using Type = HANDLE;
    static Type invalid() noexcept { return INVALID_HANDLE_VALUE; }
    static void close(Type h) noexcept { CloseHandle(h); }
};
struct FindHandleTraits {
    using Type = HANDLE;
    static Type invalid() noexcept { return INVALID_HANDLE_VALUE; }
    static void close(Type h) noexcept { FindClose(h); }
};
struct ChangeNotificationTraits {
    using Type = HANDLE;
    static Type invalid() noexcept { return INVALID_HANDLE_VALUE; }
    static void close(Type h) noexcept { FindCloseChangeNotification(h); }
};
struct RegKeyTraits {
    using Type = HKEY;
    static Type invalid() noexcept { return nullptr; }
    static void close(Type h) noexcept { RegCloseKey(h); }
};
struct GdiObjectTraits {
    using Type = HGDIOBJ;
    static Type invalid() noexcept { return nullptr; }
    static void close(Type h) noexcept { DeleteObject(h); }
};
struct IconTraits {
    using Type = HICON;
    static Type invalid() noexcept { return nullptr; }
    static void close(Type h) noexcept { DestroyIcon(h); }
};
struct ImageListTraits {
    using Type = HIMAGELIST;
    static Type invalid() noexcept { return nullptr; }
    static void close(Type h) noexcept { ImageList_Destroy(h); }
};

using UniqueHandle = Unique<KernelHandleTraits>;   // threads, snapshots, events
using UniqueFile = Unique<FileHandleTraits>;       // CreateFile results
using UniqueFind = Unique<FindHandleTraits>;
using UniqueChangeNotification = Unique<ChangeNotificationTraits>;
using UniqueKey = Unique<RegKeyTraits>;
using UniqueGdiObject = Unique<GdiObjectTraits>;
using UniqueIcon = Unique<IconTraits>;
using UniqueImageList = Unique<ImageListTraits>;

// A locked HGLOBAL; unlocks when it goes out of scope. The block itself stays its owner's.
class GlobalLock {
public:
    explicit GlobalLock(HGLOBAL block) noexcept : block_(block), data_(block ? ::GlobalLock(block) : nullptr) {}
    ~GlobalLock()
    {
        if (data_) ::GlobalUnlock(block_);
    }
    GlobalLock(const GlobalLock&) = delete;
    GlobalLock& operator=(const GlobalLock&) = delete;

    void* data() const noexcept { return data_; }
    SIZE_T size() const noexcept { return data_ ? ::GlobalSize(block_) : 0; }

private:
    HGLOBAL block_;
    void* data_;
};

// A window's device context, released on every road out.
class WindowDc {
public:
    explicit WindowDc(HWND window) noexcept : window_(window), dc_(::GetDC(window)) {}
    ~WindowDc()
    {
        if (dc_) ::ReleaseDC(window_, dc_);
    }
    WindowDc(const WindowDc&) = delete;
    WindowDc& operator=(const WindowDc&) = delete;

    HDC get() const noexcept { return dc_; }

private:
    HWND window_;
    HDC dc_;
};

// An object selected into a device context; the previous one is selected back at the end.
class Selection {
public:
    Selection(HDC dc, HGDIOBJ object) noexcept : dc_(dc), previous_(::SelectObject(dc, object)) {}
    ~Selection()
    {
        if (previous_) ::SelectObject(dc_, previous_);
    }
    Selection(const Selection&) = delete;
    Selection& operator=(const Selection&) = delete;

private:
    HDC dc_;
    HGDIOBJ previous_;
};

// The clipboard, opened for one owner window; closed on every road out. Other programs hold it
// open for a moment after every copy (clipboard history, remote desktop, clipboard managers), so
// opening is tried a few times, a little apart, before it counts as failed.
class ClipboardSession {
public:
    static constexpr int kOpenTries = 10;
    static constexpr DWORD kOpenRetryMs = 50;

    explicit ClipboardSession(HWND owner) noexcept : open_(Open(owner)) {}
    ~ClipboardSession()
    {
        if (open_) ::CloseClipboard();
    }
    ClipboardSession(const ClipboardSession&) = delete;
    ClipboardSession& operator=(const ClipboardSession&) = delete;

    bool isOpen() const noexcept { return open_; }
    // The first of `formats` in the clipboard's order, 0 when none is there. The order tells what
    // the copying program put: the system lists the formats it makes from those after them.
    UINT firstOffered(std::initializer_list<UINT> formats) const noexcept
    {
        for (UINT format = ::EnumClipboardFormats(0); format != 0; format = ::EnumClipboardFormats(format)) {
            for (const UINT wanted : formats) {
                if (format == wanted) return format;
            }
        }
        return 0;
    }
    // Closes before the end of the scope, where the clipboard must be free before going on.
    void close() noexcept
    {
        if (open_) ::CloseClipboard();
        open_ = false;
    }

private:
    static bool Open(HWND owner) noexcept
    {
        for (int tries = 1;; ++tries) {
            if (::OpenClipboard(owner) == TRUE) return true;
            if (tries == kOpenTries) return false;
            ::Sleep(kOpenRetryMs);
        }
    }

    bool open_;
};

// COM for the calling thread; balanced only when this call initialised it.
class ComInit {
public:
    explicit ComInit(DWORD model) noexcept : result_(::CoInitializeEx(nullptr, model)) {}
    ~ComInit()
    {
        if (SUCCEEDED(result_)) ::CoUninitialize();
    }
    ComInit(const ComInit&) = delete;
    ComInit& operator=(const ComInit&) = delete;

    HRESULT result() const noexcept { return result_; }

private:
    HRESULT result_;
};

template <typename T>
class ComPtr {
public:
    ComPtr() noexcept = default;
    ~ComPtr() { reset(); }
    ComPtr(ComPtr&& other) noexcept : ptr_(std::exchange(other.ptr_, nullptr)) {}
    ComPtr& operator=(ComPtr&& other) noexcept
    {
        if (this != &other) {
            reset();
            ptr_ = std::exchange(other.ptr_, nullptr);
        }
        return *this;
    }
    ComPtr(const ComPtr&) = delete;
    ComPtr& operator=(const ComPtr&) = delete;

    T* get() const noexcept { return ptr_; }
    T* operator->() const noexcept { return ptr_; }
    explicit operator bool() const noexcept { return ptr_ != nullptr; }
    void reset() noexcept
    {
        if (ptr_) std::exchange(ptr_, nullptr)->Release();
    }
    T** put() noexcept
    {
        reset();
        return &ptr_;
    }
    void** putVoid() noexcept { return reinterpret_cast<void**>(put()); }

private:
    T* ptr_ = nullptr;
};

// A VARIANT that is cleared when it goes out of scope.
class Variant {
public:
    Variant() noexcept { ::VariantInit(&value_); }
    ~Variant() { ::VariantClear(&value_); }
    Variant(const Variant&) = delete;
    Variant& operator=(const Variant&) = delete;

    VARIANT& get() noexcept { return value_; }

private:
    VARIANT value_;
};

// The wait cursor for a stretch of work; the arrow comes back on every road out.
class WaitCursor {
public:
    WaitCursor() noexcept { ::SetCursor(::LoadCursorA(nullptr, IDC_WAIT)); }
    ~WaitCursor() { ::SetCursor(::LoadCursorA(nullptr, IDC_ARROW)); }
    WaitCursor(const WaitCursor&) = delete;
    WaitCursor& operator=(const WaitCursor&) = delete;
};

}  // namespace dl
