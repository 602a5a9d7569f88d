#pragma once
// What the platform-ABI manager double needs of Windows, declared by hand. The double is
// built by clang in MSVC mode without a C runtime; the mingw-w64 headers do not compile in
// that mode, and a handful of declarations keep the build independent of them. Every
// function is imported from the mingw-w64 import libraries (kernel32, advapi32, oleaut32).
using BOOL = int;
using BYTE = unsigned char;
using DWORD = unsigned long;  // 32 bits: long is 32 bits on 64-bit Windows
using LONG = long;
using ULONG = unsigned long;
using UINT = unsigned int;
using HRESULT = long;
using LSTATUS = long;
using SIZE_T = unsigned long long;
using HANDLE = void*;
using HKEY = struct HKEY__*;
using HMODULE = struct HINSTANCE__*;
using BSTR = wchar_t*;

struct GUID {
    unsigned long Data1;
    unsigned short Data2;
    unsigned short Data3;
    unsigned char Data4[8];
};
using IID = GUID;
using CLSID = GUID;

struct FILETIME {
    DWORD dwLowDateTime;
    DWORD dwHighDateTime;
};

constexpr HRESULT S_OK = 0;
constexpr HRESULT S_FALSE = 1;
constexpr HRESULT E_NOINTERFACE = static_cast<HRESULT>(0x80004002);
constexpr HRESULT E_POINTER = static_cast<HRESULT>(0x80004003);
constexpr HRESULT E_FAIL = static_cast<HRESULT>(0x80004005);
constexpr HRESULT E_OUTOFMEMORY = static_cast<HRESULT>(0x8007000E);
constexpr HRESULT CLASS_E_NOAGGREGATION = static_cast<HRESULT>(0x80040110);
constexpr HRESULT CLASS_E_CLASSNOTAVAILABLE = static_cast<HRESULT>(0x80040111);
inline HRESULT hresult_from_win32(DWORD error) {
    return error == 0 ? S_OK : static_cast<HRESULT>((error & 0xFFFF) | 0x80070000);
}

constexpr DWORD INFINITE = 0xFFFFFFFF;
constexpr DWORD ERROR_SUCCESS = 0;
constexpr DWORD ERROR_FILE_NOT_FOUND = 2;
constexpr DWORD GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT = 2;
constexpr DWORD GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS = 4;
constexpr DWORD REG_SZ = 1;
constexpr DWORD REG_DWORD = 4;
constexpr DWORD REG_QWORD = 11;
constexpr DWORD KEY_ALL_ACCESS = 0xF003F;
// HKEY_LOCAL_MACHINE: the 32-bit value sign-extended, as the platform headers make it.
inline HKEY hkey_local_machine() {
    return reinterpret_cast<HKEY>(static_cast<SIZE_T>(static_cast<long long>(static_cast<LONG>(0x80000002))));
}

extern "C" {
__declspec(dllimport) HANDLE __stdcall CreateThread(void* attributes, SIZE_T stack_size,
                                                    DWORD(__stdcall* start)(void*), void* parameter,
                                                    DWORD flags, DWORD* thread_id);
__declspec(dllimport) HANDLE __stdcall CreateEventW(void* attributes, BOOL manual_reset, BOOL initial_state,
                                                    const wchar_t* name);
__declspec(dllimport) DWORD __stdcall WaitForSingleObject(HANDLE handle, DWORD timeout_ms);
__declspec(dllimport) BOOL __stdcall CloseHandle(HANDLE handle);
__declspec(dllimport) DWORD __stdcall GetLastError();
__declspec(dllimport) BOOL __stdcall GetModuleHandleExW(DWORD flags, const wchar_t* name, HMODULE* module);
__declspec(dllimport) DWORD __stdcall GetModuleFileNameW(HMODULE module, wchar_t* path, DWORD size);
__declspec(dllimport) BOOL __stdcall FreeLibrary(HMODULE module);
__declspec(dllimport) __declspec(noreturn) void __stdcall FreeLibraryAndExitThread(HMODULE module, DWORD code);
__declspec(dllimport) void __stdcall GetSystemTimeAsFileTime(FILETIME* now);
__declspec(dllimport) HANDLE __stdcall GetProcessHeap();
__declspec(dllimport) void* __stdcall HeapAlloc(HANDLE heap, DWORD flags, SIZE_T size);
__declspec(dllimport) BOOL __stdcall HeapFree(HANDLE heap, DWORD flags, void* block);

__declspec(dllimport) LSTATUS __stdcall RegCreateKeyExW(HKEY key, const wchar_t* sub_key, DWORD reserved,
                                                        wchar_t* class_name, DWORD options, DWORD access,
                                                        void* attributes, HKEY* result, DWORD* disposition);
__declspec(dllimport) LSTATUS __stdcall RegOpenKeyExW(HKEY key, const wchar_t* sub_key, DWORD options,
                                                      DWORD access, HKEY* result);
__declspec(dllimport) LSTATUS __stdcall RegSetValueExW(HKEY key, const wchar_t* name, DWORD reserved, DWORD type,
                                                       const BYTE* data, DWORD size);
__declspec(dllimport) LSTATUS __stdcall RegQueryValueExW(HKEY key, const wchar_t* name, DWORD* reserved,
                                                         DWORD* type, BYTE* data, DWORD* size);
__declspec(dllimport) LSTATUS __stdcall RegDeleteTreeW(HKEY key, const wchar_t* sub_key);
__declspec(dllimport) LSTATUS __stdcall RegCloseKey(HKEY key);

__declspec(dllimport) BSTR __stdcall SysAllocString(const wchar_t* text);
__declspec(dllimport) BSTR __stdcall SysAllocStringLen(const wchar_t* text, UINT length);
}

// The COM interfaces the double implements. novtable: their own tables are never needed.
struct __declspec(novtable) IUnknown {
    virtual HRESULT __stdcall QueryInterface(const IID& iid, void** object) = 0;
    virtual ULONG __stdcall AddRef() = 0;
    virtual ULONG __stdcall Release() = 0;
};

struct __declspec(novtable) IClassFactory : IUnknown {
    virtual HRESULT __stdcall CreateInstance(IUnknown* outer, const IID& iid, void** object) = 0;
    virtual HRESULT __stdcall LockServer(BOOL lock) = 0;
};

inline constexpr IID IID_IUnknown = {0x00000000, 0x0000, 0x0000, {0xC0, 0, 0, 0, 0, 0, 0, 0x46}};
inline constexpr IID IID_IClassFactory = {0x00000001, 0x0000, 0x0000, {0xC0, 0, 0, 0, 0, 0, 0, 0x46}};

inline bool same_guid(const GUID& a, const GUID& b) {
    if (a.Data1 != b.Data1 || a.Data2 != b.Data2 || a.Data3 != b.Data3) return false;
    for (int i = 0; i < 8; ++i)
        if (a.Data4[i] != b.Data4[i]) return false;
    return true;
}
