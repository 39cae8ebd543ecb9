// Automation through IDispatch: creating objects by name and calling their members, HRESULTs as
// error numbers.
#include <algorithm>

#include "platform/Error.h"
#include "platform/win32/Com_win32.h"
#include "platform/win32/Errors_win32.h"
#include "platform/win32/Ports_win32.h"
#include "platform/win32/Text_win32.h"

namespace p2::win32 {
namespace {

class ExceptionRecord {
  public:
    ExceptionRecord() = default;
    ~ExceptionRecord() {
        SysFreeString(info.bstrSource);
        SysFreeString(info.bstrDescription);
        SysFreeString(info.bstrHelpFile);
    }
    ExceptionRecord(const ExceptionRecord&) = delete;
    ExceptionRecord& operator=(const ExceptionRecord&) = delete;
    EXCEPINFO info{};
};

}  // namespace

int32_t ComErrorNumber(HRESULT hr, const EXCEPINFO* exception) {
    if (hr == DISP_E_EXCEPTION && exception) {
        if (exception->wCode != 0) {
            return exception->wCode;
        }
        if (FAILED(exception->scode)) {
            return ErrorNumberOfHresult(exception->scode);
        }
        return kErrInternal;
    }
    return ErrorNumberOfHresult(hr);
}

void EnsureCom() {
    static const HRESULT initialised = CoInitialize(nullptr);
    (void)initialised;
}

ComPtr<IDispatch> CreateObject(const wchar_t* progId) {
    EnsureCom();
    CLSID clsid{};
    if (FAILED(CLSIDFromProgID(progId, &clsid))) {
        throw AppError(kErrCannotCreateObject);
    }
    ComPtr<IDispatch> object;
    if (FAILED(CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER | CLSCTX_LOCAL_SERVER,
                                IID_IDispatch, reinterpret_cast<void**>(object.Out()))) ||
        !object) {
        throw AppError(kErrCannotCreateObject);
    }
    return object;
}

void Invoke(IDispatch* object, DISPID id, WORD kind, std::vector<VARIANT*> args, VARIANT* result) {
    std::vector<VARIANT> reversed;
    reversed.reserve(args.size());
    for (auto it = args.rbegin(); it != args.rend(); ++it) {
        reversed.push_back(**it);  // shallow: the caller keeps ownership
    }
    DISPPARAMS params{};
    params.cArgs = static_cast<UINT>(reversed.size());
    params.rgvarg = reversed.empty() ? nullptr : reversed.data();
    DISPID putId = DISPID_PROPERTYPUT;
    if (kind & (DISPATCH_PROPERTYPUT | DISPATCH_PROPERTYPUTREF)) {
        params.cNamedArgs = 1;
        params.rgdispidNamedArgs = &putId;
    }
    ExceptionRecord exception;
    UINT badArgument = 0;
    const HRESULT hr = object->Invoke(id, IID_NULL, LOCALE_USER_DEFAULT, kind, &params, result,
                                      &exception.info, &badArgument);
    if (FAILED(hr)) {
        if (hr == DISP_E_EXCEPTION && exception.info.pfnDeferredFillIn) {
            exception.info.pfnDeferredFillIn(&exception.info);
        }
        throw AppError(ComErrorNumber(hr, &exception.info));
    }
}

void Invoke(IDispatch* object, const wchar_t* name, WORD kind, std::vector<VARIANT*> args,
            VARIANT* result) {
    if (!object) {
        throw AppError(kErrObjectRequired);
    }
    LPOLESTR names[] = {const_cast<LPOLESTR>(name)};
    DISPID id = DISPID_UNKNOWN;
    if (FAILED(object->GetIDsOfNames(IID_NULL, names, 1, LOCALE_USER_DEFAULT, &id))) {
        throw AppError(kErrNoSuchProperty);
    }
    Invoke(object, id, kind, std::move(args), result);
}

ComPtr<IDispatch> TakeObject(Variant& result) {
    VARIANT& v = *result.get();
    if (v.vt != VT_DISPATCH || !v.pdispVal) {
        throw AppError(kErrObjectRequired);
    }
    ComPtr<IDispatch> object(v.pdispVal);
    v.vt = VT_EMPTY;  // ownership moved to `object`
    v.pdispVal = nullptr;
    return object;
}

ULONG ComCount(size_t size) {
    if (size > 0xFFFFFFFFu) {
        throw AppError(kErrOverflow);
    }
    return static_cast<ULONG>(size);
}

BstrArg::BstrArg(const std::string& utf8) {
    VariantInit(&v_);
    const std::wstring wide = Widen(utf8);
    v_.bstrVal = SysAllocStringLen(wide.data(), static_cast<UINT>(wide.size()));
    if (!v_.bstrVal) {
        throw AppError(kErrOutOfMemory);
    }
    v_.vt = VT_BSTR;
}

}  // namespace p2::win32
