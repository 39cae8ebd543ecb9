// The start-up folders from "WScript.Shell" SpecialFolders (the shell folder API where Wine lacks
// them).
#include <shlobj.h>

#include <string>

#include "platform/Error.h"
#include "platform/win32/Com_win32.h"
#include "platform/win32/Ports_win32.h"
#include "platform/win32/Text_win32.h"

namespace p2::win32 {
namespace {

// The same folders from the shell, for a script host that cannot name them.
std::string ShellFolder(const std::string& name) {
    int id = 0;
    if (name == "AllUsersStartup") {
        id = CSIDL_COMMON_STARTUP;
    } else if (name == "Startup") {
        id = CSIDL_STARTUP;
    } else {
        throw AppError(kErrActionNotSupported);
    }
    wchar_t path[MAX_PATH];
    if (FAILED(SHGetFolderPathW(nullptr, id, nullptr, SHGFP_TYPE_CURRENT, path))) {
        throw AppError(kErrActionNotSupported);
    }
    return Narrow(path);
}

std::string TextOf(Variant& result) {
    Variant text;
    if (FAILED(VariantChangeType(text.get(), result.get(), 0, VT_BSTR))) {
        throw AppError(kErrTypeMismatch);
    }
    const BSTR b = (*text).bstrVal;
    return Narrow(std::wstring_view(b ? b : L"", b ? SysStringLen(b) : 0));
}

class Win32ScriptShell final : public ScriptShell {
  public:
    explicit Win32ScriptShell(ComPtr<IDispatch> shell) : shell_(std::move(shell)) {}

    std::string SpecialFolders(const std::string& name) override {
        try {
            return FromScriptHost(name);
        } catch (const AppError& e) {
            // Wine's script host knows only a few of the folder names.
            if (e.number() != kErrActionNotSupported) {
                throw;
            }
            return ShellFolder(name);
        }
    }

  private:
    std::string FromScriptHost(const std::string& name) {
        BstrArg folderName(name);
        Variant result;
        try {
            Invoke(shell_.get(), L"SpecialFolders", DISPATCH_METHOD | DISPATCH_PROPERTYGET,
                   {folderName.get()}, result.get());
        } catch (const AppError& e) {
            if (e.number() != kErrInvalidArgument) {
                throw;
            }
            // A type library that does not pass the argument on to the collection's default
            // member: ask the collection itself.
            Variant collection;
            Invoke(shell_.get(), L"SpecialFolders", DISPATCH_PROPERTYGET, {}, collection.get());
            ComPtr<IDispatch> folders = TakeObject(collection);
            Invoke(folders.get(), L"Item", DISPATCH_METHOD | DISPATCH_PROPERTYGET,
                   {folderName.get()}, result.get());
        }
        return TextOf(result);
    }

    ComPtr<IDispatch> shell_;
};

}  // namespace

std::unique_ptr<ScriptShell> Win32ScriptHost::CreateShell() {
    return std::make_unique<Win32ScriptShell>(CreateObject(L"WScript.Shell"));
}

}  // namespace p2::win32
