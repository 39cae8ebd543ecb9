// The database port on Windows: DAO 3.6 ("DAO.DBEngine.36") through IDispatch.
#include <cstring>
#include <string>

#include "platform/Error.h"
#include "platform/win32/Com_win32.h"
#include "platform/win32/Ports_win32.h"
#include "platform/win32/Text_win32.h"

namespace p2::win32 {
namespace {

constexpr WORD kGet = DISPATCH_METHOD | DISPATCH_PROPERTYGET;

FieldValue FromVariant(Variant& value) {
    const VARIANT& v = *value;
    switch (v.vt) {
        case VT_EMPTY:
        case VT_NULL:
            return Null{};
        case VT_UI1:
            return int64_t{v.bVal};
        case VT_I2:
            return int64_t{v.iVal};
        case VT_I4:
            return int64_t{v.lVal};
        case VT_I8:
            return int64_t{v.llVal};
        case VT_BOOL:
            return int64_t{v.boolVal == VARIANT_FALSE ? 0 : -1};
        case VT_BSTR:
            return Narrow(std::wstring_view(v.bstrVal ? v.bstrVal : L"",
                                            v.bstrVal ? SysStringLen(v.bstrVal) : 0));
        case VT_ARRAY | VT_UI1: {
            SAFEARRAY* array = v.parray;
            if (!array || SafeArrayGetDim(array) != 1) {
                throw AppError(kErrTypeMismatch);
            }
            LONG lower = 0;
            LONG upper = -1;
            SafeArrayGetLBound(array, 1, &lower);
            SafeArrayGetUBound(array, 1, &upper);
            Blob blob(static_cast<size_t>(upper - lower + 1));
            void* data = nullptr;
            if (!blob.empty()) {
                if (FAILED(SafeArrayAccessData(array, &data))) {
                    throw AppError(kErrTypeMismatch);
                }
                std::memcpy(blob.data(), data, blob.size());
                SafeArrayUnaccessData(array);
            }
            return blob;
        }
        default: {
            // Single, Double, Currency, Date and Decimal all read as a double.
            Variant real;
            if (FAILED(VariantChangeType(real.get(), value.get(), 0, VT_R8))) {
                throw AppError(kErrTypeMismatch);
            }
            return (*real).dblVal;
        }
    }
}

// Fills `out` (empty) with the value; the caller's Variant owns what is allocated.
void ToVariant(const FieldValue& value, Variant& out) {
    VARIANT& v = *out.get();
    if (std::holds_alternative<Null>(value)) {
        v.vt = VT_NULL;
    } else if (const auto* integer = std::get_if<int64_t>(&value)) {
        if (*integer >= INT32_MIN && *integer <= INT32_MAX) {
            v.vt = VT_I4;
            v.lVal = static_cast<LONG>(*integer);
        } else {
            v.vt = VT_R8;  // the engine has no 64-bit integer fields
            v.dblVal = static_cast<double>(*integer);
        }
    } else if (const auto* real = std::get_if<double>(&value)) {
        v.vt = VT_R8;
        v.dblVal = *real;
    } else if (const auto* text = std::get_if<std::string>(&value)) {
        const std::wstring wide = Widen(*text);
        v.bstrVal = SysAllocStringLen(wide.data(), static_cast<UINT>(wide.size()));
        if (!v.bstrVal) {
            throw AppError(kErrOutOfMemory);
        }
        v.vt = VT_BSTR;
    } else {
        const Blob& blob = std::get<Blob>(value);
        SAFEARRAY* array = SafeArrayCreateVector(VT_UI1, 0, ComCount(blob.size()));
        if (!array) {
            throw AppError(kErrOutOfMemory);
        }
        v.vt = VT_ARRAY | VT_UI1;
        v.parray = array;
        if (!blob.empty()) {
            void* data = nullptr;
            if (FAILED(SafeArrayAccessData(array, &data))) {
                throw AppError(kErrOutOfMemory);
            }
            std::memcpy(data, blob.data(), blob.size());
            SafeArrayUnaccessData(array);
        }
    }
}

bool BoolOf(Variant& value) {
    Variant b;
    if (FAILED(VariantChangeType(b.get(), value.get(), 0, VT_BOOL))) {
        throw AppError(kErrTypeMismatch);
    }
    return (*b).boolVal != VARIANT_FALSE;
}

class Win32Recordset final : public Recordset {
  public:
    explicit Win32Recordset(ComPtr<IDispatch> recordset) : recordset_(std::move(recordset)) {}

    bool Bof() override { return Flag(L"BOF"); }
    bool Eof() override { return Flag(L"EOF"); }

    FieldValue Field(const std::string& name) override {
        ComPtr<IDispatch> field = FieldObject(name);
        Variant value;
        Invoke(field.get(), L"Value", DISPATCH_PROPERTYGET, {}, value.get());
        return FromVariant(value);
    }

    void Edit() override {
        Variant ignored;
        Invoke(recordset_.get(), L"Edit", DISPATCH_METHOD, {}, ignored.get());
    }

    void SetField(const std::string& name, const FieldValue& value) override {
        ComPtr<IDispatch> field = FieldObject(name);
        Variant newValue;
        ToVariant(value, newValue);
        Invoke(field.get(), L"Value", DISPATCH_PROPERTYPUT, {newValue.get()}, nullptr);
    }

    void Update(UpdateType type) override {
        Variant kind;
        (*kind.get()).vt = VT_I4;
        (*kind.get()).lVal = type;
        Variant ignored;
        Invoke(recordset_.get(), L"Update", DISPATCH_METHOD, {kind.get()}, ignored.get());
    }

    void Close() override {
        Variant ignored;
        Invoke(recordset_.get(), L"Close", DISPATCH_METHOD, {}, ignored.get());
    }

  private:
    bool Flag(const wchar_t* name) {
        Variant value;
        Invoke(recordset_.get(), name, DISPATCH_PROPERTYGET, {}, value.get());
        return BoolOf(value);
    }

    // Fields(name): the collection, then its Item; the default-member shortcut is left to
    // objects that may not offer it.
    ComPtr<IDispatch> FieldObject(const std::string& name) {
        Variant fields;
        Invoke(recordset_.get(), L"Fields", DISPATCH_PROPERTYGET, {}, fields.get());
        ComPtr<IDispatch> collection = TakeObject(fields);
        BstrArg fieldName(name);
        Variant field;
        Invoke(collection.get(), L"Item", kGet, {fieldName.get()}, field.get());
        return TakeObject(field);
    }

    ComPtr<IDispatch> recordset_;
};

class Win32Database final : public Database {
  public:
    explicit Win32Database(ComPtr<IDispatch> database) : database_(std::move(database)) {}

    std::unique_ptr<Recordset> OpenRecordset(const std::string& source,
                                             RecordsetType type) override {
        BstrArg text(source);
        Variant kind;
        (*kind.get()).vt = VT_I4;
        (*kind.get()).lVal = type;
        Variant result;
        Invoke(database_.get(), L"OpenRecordset", DISPATCH_METHOD, {text.get(), kind.get()},
               result.get());
        return std::make_unique<Win32Recordset>(TakeObject(result));
    }

    void Close() override {
        Variant ignored;
        Invoke(database_.get(), L"Close", DISPATCH_METHOD, {}, ignored.get());
    }

  private:
    ComPtr<IDispatch> database_;
};

class Win32DBEngine final : public DBEngine {
  public:
    Win32DBEngine(ComPtr<IDispatch> engine, bool readOnly)
        : engine_(std::move(engine)), readOnly_(readOnly) {}

    void SetSystemDB(const std::string& path) override { Put(L"SystemDB", path); }
    void SetDefaultUser(const std::string& user) override { Put(L"DefaultUser", user); }
    void SetDefaultPassword(const std::string& password) override {
        Put(L"DefaultPassword", password);
    }

    std::unique_ptr<Database> OpenDatabase(const std::string& path) override {
        BstrArg name(path);
        Variant result;
        if (readOnly_) {
            // Options (shared) and ReadOnly: the engine then writes nothing to the file.
            Variant shared;
            (*shared.get()).vt = VT_BOOL;
            (*shared.get()).boolVal = VARIANT_FALSE;
            Variant readOnly;
            (*readOnly.get()).vt = VT_BOOL;
            (*readOnly.get()).boolVal = VARIANT_TRUE;
            Invoke(engine_.get(), L"OpenDatabase", DISPATCH_METHOD,
                   {name.get(), shared.get(), readOnly.get()}, result.get());
        } else {
            Invoke(engine_.get(), L"OpenDatabase", DISPATCH_METHOD, {name.get()}, result.get());
        }
        return std::make_unique<Win32Database>(TakeObject(result));
    }

  private:
    void Put(const wchar_t* property, const std::string& text) {
        BstrArg value(text);
        Invoke(engine_.get(), property, DISPATCH_PROPERTYPUT, {value.get()}, nullptr);
    }

    ComPtr<IDispatch> engine_;
    bool readOnly_;
};

}  // namespace

Win32DatabaseService::Win32DatabaseService(bool readOnly) : readOnly_(readOnly) {}
Win32DatabaseService::~Win32DatabaseService() = default;

DBEngine& Win32DatabaseService::Engine() {
    if (!engine_) {
        engine_ = std::make_unique<Win32DBEngine>(CreateObject(L"DAO.DBEngine.36"), readOnly_);
    }
    return *engine_;
}

// Jet 3/4 (.mdb) and ACE (.accdb) files name their engine at offset 4.
bool Win32DatabaseService::HasDatabaseSignature(const std::string& path) {
    static constexpr char kJet[] = "Standard Jet DB";
    static constexpr char kAce[] = "Standard ACE DB";
    constexpr DWORD kOffset = 4;
    constexpr DWORD kLength = sizeof kJet - 1;
    HANDLE file = CreateFileW(Widen(path).c_str(), GENERIC_READ,
                              FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                              OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        return false;
    }
    char head[kOffset + kLength] = {};
    DWORD got = 0;
    const bool read = ReadFile(file, head, sizeof head, &got, nullptr) && got == sizeof head;
    CloseHandle(file);
    return read && (std::memcmp(head + kOffset, kJet, kLength) == 0 ||
                    std::memcmp(head + kOffset, kAce, kLength) == 0);
}

}  // namespace p2::win32
