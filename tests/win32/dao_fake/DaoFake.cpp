// A stand-in for the DAO 3.6 engine in the Wine prefix of the tests, where the real one cannot
// be installed: an in-process automation server that offers, through IDispatch alone, the
// members the program calls, with the databases kept in the text format of FakeStore.h.
// Errors are raised as DAO raises them: DISP_E_EXCEPTION with the number in the low word of
// an 0x800A.... scode.
#include <oaidl.h>
#include <ole2.h>
#include <olectl.h>
#include <windows.h>

#include <memory>
#include <new>
#include <string>
#include <utility>
#include <vector>

#include "FakeStore.h"

namespace {

using p2::daofake::Null;
using p2::daofake::Store;
using p2::daofake::Table;
using p2::daofake::Value;

HMODULE g_module = nullptr;
LONG g_objects = 0;
LONG g_locks = 0;

// Ours, not DAO's: the prefix can never mistake the stand-in for the real engine.
const CLSID kClsid = {0x17511e26, 0xac5a, 0x44d5, {0x95, 0x75, 0x3a, 0x49, 0xa0, 0xa5, 0xb8, 0x81}};
constexpr const wchar_t* kClsidText = L"{17511E26-AC5A-44D5-9575-3A49A0A5B881}";
constexpr const wchar_t* kProgId = L"DAO.DBEngine.36";
constexpr const wchar_t* kDescription = L"Pelorin2 test stand-in for DAO.DBEngine.36";

struct DaoError {
    long number;
    std::wstring source;
    std::wstring description;
};
struct HrError {
    HRESULT hr;
};

std::wstring Wide(const std::string& utf8) {
    const int n =
        MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), nullptr, 0);
    std::wstring wide(static_cast<size_t>(n), L'\0');
    MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), wide.data(), n);
    return wide;
}

std::string Utf8(const std::wstring& wide) {
    const int n = WideCharToMultiByte(CP_UTF8, 0, wide.data(), static_cast<int>(wide.size()),
                                      nullptr, 0, nullptr, nullptr);
    std::string utf8(static_cast<size_t>(n), '\0');
    WideCharToMultiByte(CP_UTF8, 0, wide.data(), static_cast<int>(wide.size()), utf8.data(), n,
                        nullptr, nullptr);
    return utf8;
}

[[noreturn]] void Raise(long number, const wchar_t* source, const std::wstring& description) {
    throw DaoError{number, source, description};
}

[[noreturn]] void Invalidated(const wchar_t* source) {
    Raise(3420, source, L"Object invalid or no longer set.");
}

// The arguments of one call, in the order written; optional ones may be left out.
class Args {
  public:
    explicit Args(const DISPPARAMS* params) : params_(params) {
        for (UINT i = 0; i < params_->cNamedArgs; ++i) {
            if (params_->rgdispidNamedArgs[i] != DISPID_PROPERTYPUT) {
                throw HrError{DISP_E_NONAMEDARGS};
            }
            putValue_ = &params_->rgvarg[i];
        }
    }
    UINT Count() const { return params_->cArgs - params_->cNamedArgs; }
    void AtMost(UINT n) const {
        if (Count() > n) {
            throw HrError{DISP_E_BADPARAMCOUNT};
        }
    }
    // Nothing for an argument left out, or passed as "missing".
    const VARIANT* At(UINT i) const {
        if (i >= Count()) {
            return nullptr;
        }
        const VARIANT* v = &params_->rgvarg[params_->cArgs - 1 - i];
        if (v->vt == (VT_BYREF | VT_VARIANT)) {
            v = v->pvarVal;
        }
        if (v->vt == VT_ERROR && v->scode == DISP_E_PARAMNOTFOUND) {
            return nullptr;
        }
        return v;
    }
    const VARIANT* Required(UINT i) const {
        const VARIANT* v = At(i);
        if (!v) {
            throw HrError{DISP_E_PARAMNOTOPTIONAL};
        }
        return v;
    }
    const VARIANT& PutValue() const {
        if (!putValue_) {
            throw HrError{DISP_E_PARAMNOTOPTIONAL};
        }
        return *putValue_;
    }

  private:
    const DISPPARAMS* params_;
    const VARIANT* putValue_ = nullptr;
};

class OwnedVariant {
  public:
    OwnedVariant() { VariantInit(&v); }
    ~OwnedVariant() { VariantClear(&v); }
    OwnedVariant(const OwnedVariant&) = delete;
    OwnedVariant& operator=(const OwnedVariant&) = delete;
    VARIANT v;
};

void Convert(const VARIANT& from, VARTYPE to, OwnedVariant& out) {
    OwnedVariant direct;
    HRESULT hr = VariantCopyInd(&direct.v, const_cast<VARIANT*>(&from));
    if (SUCCEEDED(hr)) {
        hr = VariantChangeType(&out.v, &direct.v, 0, to);
    }
    if (FAILED(hr)) {
        throw HrError{hr == DISP_E_OVERFLOW ? DISP_E_OVERFLOW : DISP_E_TYPEMISMATCH};
    }
}

std::wstring TextOf(const VARIANT& v) {
    OwnedVariant text;
    Convert(v, VT_BSTR, text);
    return std::wstring(text.v.bstrVal, SysStringLen(text.v.bstrVal));
}

long LongOf(const VARIANT* v, long absent) {
    if (!v) {
        return absent;
    }
    OwnedVariant number;
    Convert(*v, VT_I4, number);
    return number.v.lVal;
}

bool BoolOf(const VARIANT* v) {
    if (!v) {
        return false;
    }
    OwnedVariant flag;
    Convert(*v, VT_BOOL, flag);
    return flag.v.boolVal != VARIANT_FALSE;
}

void Need(WORD flags, WORD kind) {
    if (!(flags & kind)) {
        throw HrError{DISP_E_MEMBERNOTFOUND};
    }
}

void ReturnBool(VARIANT* result, bool value) {
    if (result) {
        result->vt = VT_BOOL;
        result->boolVal = value ? VARIANT_TRUE : VARIANT_FALSE;
    }
}

void ReturnText(VARIANT* result, const std::wstring& text) {
    if (result) {
        result->bstrVal = SysAllocStringLen(text.data(), static_cast<UINT>(text.size()));
        if (!result->bstrVal) {
            throw std::bad_alloc();
        }
        result->vt = VT_BSTR;
    }
}

void ReturnValue(VARIANT* result, const Value& value) {
    if (!result) {
        return;
    }
    if (std::holds_alternative<Null>(value)) {
        result->vt = VT_NULL;
    } else if (const auto* integer = std::get_if<int32_t>(&value)) {
        result->vt = VT_I4;
        result->lVal = *integer;
    } else if (const auto* real = std::get_if<double>(&value)) {
        result->vt = VT_R8;
        result->dblVal = *real;
    } else {
        ReturnText(result, Wide(std::get<std::string>(value)));
    }
}

Value ValueOf(const VARIANT& given) {
    OwnedVariant v;
    if (FAILED(VariantCopyInd(&v.v, const_cast<VARIANT*>(&given)))) {
        throw HrError{DISP_E_TYPEMISMATCH};
    }
    switch (v.v.vt) {
        case VT_EMPTY:
        case VT_NULL:
            return Null{};
        case VT_BSTR:
            return Utf8(std::wstring(v.v.bstrVal, SysStringLen(v.v.bstrVal)));
        case VT_UI1:
        case VT_I2:
        case VT_I4:
        case VT_BOOL:
        case VT_I8: {
            OwnedVariant number;
            Convert(v.v, VT_I4, number);
            return int32_t{number.v.lVal};
        }
        case VT_R4:
        case VT_R8:
        case VT_CY:
        case VT_DATE: {
            OwnedVariant real;
            Convert(v.v, VT_R8, real);
            return real.v.dblVal;
        }
        default:
            throw HrError{DISP_E_TYPEMISMATCH};
    }
}

struct Member {
    const wchar_t* name;
    DISPID id;
};

// IDispatch by name alone: no type information, names matched regardless of letter case.
class Dispatch : public IDispatch {
  public:
    Dispatch() { InterlockedIncrement(&g_objects); }
    virtual ~Dispatch() { InterlockedDecrement(&g_objects); }
    Dispatch(const Dispatch&) = delete;
    Dispatch& operator=(const Dispatch&) = delete;

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** out) override {
        if (!out) {
            return E_POINTER;
        }
        if (IsEqualIID(riid, IID_IUnknown) || IsEqualIID(riid, IID_IDispatch)) {
            *out = static_cast<IDispatch*>(this);
            AddRef();
            return S_OK;
        }
        *out = nullptr;
        return E_NOINTERFACE;
    }
    ULONG STDMETHODCALLTYPE AddRef() override {
        return static_cast<ULONG>(InterlockedIncrement(&refs_));
    }
    ULONG STDMETHODCALLTYPE Release() override {
        const LONG left = InterlockedDecrement(&refs_);
        if (left == 0) {
            delete this;
        }
        return static_cast<ULONG>(left);
    }
    HRESULT STDMETHODCALLTYPE GetTypeInfoCount(UINT* count) override {
        if (!count) {
            return E_POINTER;
        }
        *count = 0;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE GetTypeInfo(UINT, LCID, ITypeInfo** info) override {
        if (info) {
            *info = nullptr;
        }
        return DISP_E_BADINDEX;
    }
    HRESULT STDMETHODCALLTYPE GetIDsOfNames(REFIID riid, LPOLESTR* names, UINT count, LCID,
                                            DISPID* ids) override {
        if (!IsEqualIID(riid, IID_NULL)) {
            return DISP_E_UNKNOWNINTERFACE;
        }
        if (!names || !ids || count == 0) {
            return E_INVALIDARG;
        }
        for (UINT i = 0; i < count; ++i) {
            ids[i] = DISPID_UNKNOWN;
        }
        try {
            for (const Member& member : Members()) {
                if (CompareStringW(LOCALE_INVARIANT, NORM_IGNORECASE, member.name, -1, names[0],
                                   -1) == CSTR_EQUAL) {
                    ids[0] = member.id;
                    // Argument names are not offered.
                    return count == 1 ? S_OK : DISP_E_UNKNOWNNAME;
                }
            }
        } catch (const std::bad_alloc&) {
            return E_OUTOFMEMORY;
        } catch (...) {
            return E_UNEXPECTED;
        }
        return DISP_E_UNKNOWNNAME;
    }
    HRESULT STDMETHODCALLTYPE Invoke(DISPID id, REFIID riid, LCID, WORD flags, DISPPARAMS* params,
                                     VARIANT* result, EXCEPINFO* exception,
                                     UINT* badArgument) override {
        if (!IsEqualIID(riid, IID_NULL)) {
            return DISP_E_UNKNOWNINTERFACE;
        }
        if (badArgument) {
            *badArgument = 0;
        }
        DISPPARAMS none{};
        try {
            const Args args(params ? params : &none);
            if (result) {
                VariantInit(result);
            }
            Call(id, flags, args, result);
            return S_OK;
        } catch (const DaoError& e) {
            if (exception) {
                *exception = EXCEPINFO{};
                exception->wCode = 0;
                exception->scode = MAKE_HRESULT(SEVERITY_ERROR, FACILITY_CONTROL, e.number);
                exception->bstrSource = SysAllocString(e.source.c_str());
                exception->bstrDescription = SysAllocString(e.description.c_str());
            }
            return DISP_E_EXCEPTION;
        } catch (const HrError& e) {
            return e.hr;
        } catch (const std::bad_alloc&) {
            return E_OUTOFMEMORY;
        }
    }

  protected:
    virtual std::vector<Member> Members() const = 0;
    virtual void Call(DISPID id, WORD flags, const Args& args, VARIANT* result) = 0;

    static void ReturnObject(VARIANT* result, Dispatch* object) {
        if (result) {
            result->vt = VT_DISPATCH;
            result->pdispVal = object;
        } else {
            object->Release();
        }
    }

  private:
    LONG refs_ = 1;
};

struct DatabaseState {
    std::wstring path;
    Store store;
    bool readOnly = false;
    bool closed = false;
};

struct RecordsetState {
    std::shared_ptr<DatabaseState> database;
    size_t table = 0;
    std::vector<int> columns;                  // the table's columns, in the order selected
    std::vector<size_t> rows;                  // the table's rows selected
    std::vector<std::vector<Value>> snapshot;  // the values as they were read at the open
    bool updatable = false;
    bool editing = false;
    std::vector<Value> buffer;
    bool closed = false;

    void CheckOpen(const wchar_t* source) const {
        if (closed || database->closed) {
            Invalidated(source);
        }
    }
    bool Empty() const { return rows.empty(); }
    const Table& TableOf() const { return database->store.tables[table]; }
};

class Field final : public Dispatch {
  public:
    Field(std::shared_ptr<RecordsetState> recordset, size_t index)
        : recordset_(std::move(recordset)), index_(index) {}

  protected:
    std::vector<Member> Members() const override { return {{L"Value", 0}, {L"Name", 1}}; }
    void Call(DISPID id, WORD flags, const Args& args, VARIANT* result) override {
        RecordsetState& rs = *recordset_;
        rs.CheckOpen(L"DAO.Field");
        if (id == 1) {
            Need(flags, DISPATCH_PROPERTYGET);
            args.AtMost(0);
            ReturnText(result, Wide(rs.TableOf().columns[static_cast<size_t>(rs.columns[index_])]));
            return;
        }
        if (id != 0) {
            throw HrError{DISP_E_MEMBERNOTFOUND};
        }
        args.AtMost(0);
        if (flags & DISPATCH_PROPERTYPUT) {
            const VARIANT& value = args.PutValue();
            if (!rs.editing) {
                Raise(3020, L"DAO.Field", L"Update or CancelUpdate without AddNew or Edit.");
            }
            rs.buffer[index_] = ValueOf(value);
            return;
        }
        Need(flags, DISPATCH_PROPERTYGET | DISPATCH_METHOD);
        if (rs.Empty()) {
            Raise(3021, L"DAO.Field", L"No current record.");
        }
        ReturnValue(result, rs.editing ? rs.buffer[index_] : rs.snapshot[0][index_]);
    }

  private:
    std::shared_ptr<RecordsetState> recordset_;
    size_t index_;
};

Field* FieldNamed(const std::shared_ptr<RecordsetState>& rs, const VARIANT& key) {
    const Table& table = rs->TableOf();
    if (key.vt == VT_BSTR || key.vt == (VT_BYREF | VT_BSTR)) {
        const std::string name = Utf8(TextOf(key));
        for (size_t i = 0; i < rs->columns.size(); ++i) {
            if (p2::daofake::Fold(table.columns[static_cast<size_t>(rs->columns[i])]) ==
                p2::daofake::Fold(name)) {
                return new Field(rs, i);
            }
        }
    } else {
        const long index = LongOf(&key, -1);
        if (index >= 0 && static_cast<size_t>(index) < rs->columns.size()) {
            return new Field(rs, static_cast<size_t>(index));
        }
    }
    Raise(3265, L"DAO.Fields", L"Item not found in this collection.");
}

class Fields final : public Dispatch {
  public:
    explicit Fields(std::shared_ptr<RecordsetState> recordset) : recordset_(std::move(recordset)) {}

  protected:
    std::vector<Member> Members() const override { return {{L"Item", 0}, {L"Count", 1}}; }
    void Call(DISPID id, WORD flags, const Args& args, VARIANT* result) override {
        recordset_->CheckOpen(L"DAO.Fields");
        if (id == 1) {
            Need(flags, DISPATCH_PROPERTYGET);
            args.AtMost(0);
            if (result) {
                result->vt = VT_I2;
                result->iVal = static_cast<SHORT>(recordset_->columns.size());
            }
            return;
        }
        if (id != 0) {
            throw HrError{DISP_E_MEMBERNOTFOUND};
        }
        Need(flags, DISPATCH_PROPERTYGET | DISPATCH_METHOD);
        args.AtMost(1);
        ReturnObject(result, FieldNamed(recordset_, *args.Required(0)));
    }

  private:
    std::shared_ptr<RecordsetState> recordset_;
};

bool WriteWhole(const std::wstring& path, const std::string& text) {
    HANDLE file = CreateFileW(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr, CREATE_ALWAYS,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        return false;
    }
    DWORD written = 0;
    const BOOL ok =
        WriteFile(file, text.data(), static_cast<DWORD>(text.size()), &written, nullptr);
    CloseHandle(file);
    return ok && written == text.size();
}

class Recordset final : public Dispatch {
  public:
    explicit Recordset(std::shared_ptr<RecordsetState> state) : state_(std::move(state)) {}

  protected:
    enum : DISPID { kBof = 1, kEof, kFields, kEdit, kUpdate, kClose };
    std::vector<Member> Members() const override {
        return {{L"BOF", kBof},   {L"EOF", kEof},       {L"Fields", kFields},
                {L"Edit", kEdit}, {L"Update", kUpdate}, {L"Close", kClose}};
    }
    void Call(DISPID id, WORD flags, const Args& args, VARIANT* result) override {
        RecordsetState& rs = *state_;
        rs.CheckOpen(L"DAO.Recordset");
        switch (id) {
            case kBof:
            case kEof:
                Need(flags, DISPATCH_PROPERTYGET);
                args.AtMost(0);
                ReturnBool(result, rs.Empty());
                return;
            case kFields:
                Need(flags, DISPATCH_PROPERTYGET | DISPATCH_METHOD);
                args.AtMost(1);
                // Fields("name") is the collection's default member, Item.
                if (const VARIANT* key = args.At(0)) {
                    ReturnObject(result, FieldNamed(state_, *key));
                } else {
                    ReturnObject(result, new Fields(state_));
                }
                return;
            case kEdit:
                Need(flags, DISPATCH_METHOD);
                args.AtMost(0);
                if (!rs.updatable) {
                    Raise(3027, L"DAO.Recordset",
                          L"Cannot update. Database or object is read-only.");
                }
                if (rs.Empty()) {
                    Raise(3021, L"DAO.Recordset", L"No current record.");
                }
                rs.buffer = rs.snapshot[0];
                rs.editing = true;
                return;
            case kUpdate: {
                Need(flags, DISPATCH_METHOD);
                args.AtMost(2);
                const long type = LongOf(args.At(0), 1);
                BoolOf(args.At(1));  // Force: one user only, nothing to force
                if (type != 1) {
                    Raise(3251, L"DAO.Recordset",
                          L"Operation is not supported for this type of object.");
                }
                if (!rs.editing) {
                    Raise(3020, L"DAO.Recordset",
                          L"Update or CancelUpdate without AddNew or Edit.");
                }
                Table& table = rs.database->store.tables[rs.table];
                std::vector<Value> row = table.rows[rs.rows[0]];
                for (size_t i = 0; i < rs.columns.size(); ++i) {
                    row[static_cast<size_t>(rs.columns[i])] = rs.buffer[i];
                }
                std::swap(table.rows[rs.rows[0]], row);
                if (!WriteWhole(rs.database->path, rs.database->store.Text())) {
                    std::swap(table.rows[rs.rows[0]], row);
                    Raise(3051, L"DAO.Recordset",
                          L"The Microsoft Jet database engine cannot open the file '" +
                              rs.database->path + L"'.");
                }
                rs.snapshot[0] = rs.buffer;
                rs.editing = false;
                return;
            }
            case kClose:
                Need(flags, DISPATCH_METHOD);
                args.AtMost(0);
                rs.closed = true;
                return;
            default:
                throw HrError{DISP_E_MEMBERNOTFOUND};
        }
    }

  private:
    std::shared_ptr<RecordsetState> state_;
};

std::string AsciiUpper(std::string text) {
    for (char& c : text) {
        if (c >= 'a' && c <= 'z') {
            c = static_cast<char>(c - 'a' + 'A');
        }
    }
    return text;
}

bool IsSpace(char c) {
    return c == ' ' || c == '\t' || c == '\r' || c == '\n';
}

std::string Trim(const std::string& text) {
    size_t begin = 0;
    size_t end = text.size();
    while (begin < end && IsSpace(text[begin])) {
        ++begin;
    }
    while (end > begin && IsSpace(text[end - 1])) {
        --end;
    }
    return text.substr(begin, end - begin);
}

// SELECT <columns> FROM <table> [WHERE <column> = '<text>'] [;]: all the statements of the
// program are of this form.
struct Query {
    std::vector<std::string> columns;  // empty for *
    std::string table;
    bool filtered = false;
    std::string filterColumn;
    std::string filterValue;
};

[[noreturn]] void SyntaxError(const std::string& text) {
    Raise(3075, L"DAO.Database",
          L"Syntax error (missing operator) in query expression '" + Wide(text) + L"'.");
}

Query ParseQuery(const std::string& sql) {
    const std::string upper = AsciiUpper(sql);
    Query query;
    size_t from = std::string::npos;
    for (size_t i = 6; i + 6 <= upper.size(); ++i) {
        if (IsSpace(upper[i]) && upper.compare(i + 1, 4, "FROM") == 0 &&
            (i + 5 == upper.size() || IsSpace(upper[i + 5]) || upper[i + 5] == '[')) {
            from = i;
            break;
        }
    }
    if (from == std::string::npos) {
        Raise(3131, L"DAO.Database", L"Syntax error in FROM clause.");
    }
    const std::string list = Trim(sql.substr(6, from - 6));
    if (list != "*") {
        size_t start = 0;
        for (;;) {
            const size_t comma = list.find(',', start);
            const std::string column = Trim(list.substr(start, comma - start));
            if (column.empty()) {
                SyntaxError(list);
            }
            query.columns.push_back(column);
            if (comma == std::string::npos) {
                break;
            }
            start = comma + 1;
        }
    }
    size_t i = from + 5;
    while (i < sql.size() && IsSpace(sql[i])) {
        ++i;
    }
    if (i < sql.size() && sql[i] == '[') {
        const size_t close = sql.find(']', i);
        if (close == std::string::npos) {
            Raise(3131, L"DAO.Database", L"Syntax error in FROM clause.");
        }
        query.table = sql.substr(i + 1, close - i - 1);
        i = close + 1;
    } else {
        const size_t begin = i;
        while (i < sql.size() && !IsSpace(sql[i]) && sql[i] != ';') {
            ++i;
        }
        query.table = sql.substr(begin, i - begin);
    }
    if (query.table.empty()) {
        Raise(3131, L"DAO.Database", L"Syntax error in FROM clause.");
    }
    std::string rest = Trim(sql.substr(i));
    if (!rest.empty() && rest.back() == ';') {
        rest = Trim(rest.substr(0, rest.size() - 1));
    }
    if (rest.empty()) {
        return query;
    }
    if (AsciiUpper(rest).compare(0, 5, "WHERE") != 0 || rest.size() < 6 || !IsSpace(rest[5])) {
        SyntaxError(rest);
    }
    const std::string condition = Trim(rest.substr(6));
    const size_t equals = condition.find('=');
    if (equals == std::string::npos) {
        SyntaxError(condition);
    }
    query.filtered = true;
    query.filterColumn = Trim(condition.substr(0, equals));
    const std::string literal = Trim(condition.substr(equals + 1));
    if (query.filterColumn.empty() || literal.size() < 2 || literal.front() != '\'' ||
        literal.back() != '\'') {
        SyntaxError(condition);
    }
    for (size_t k = 1; k + 1 < literal.size(); ++k) {
        if (literal[k] == '\'') {
            if (k + 2 < literal.size() && literal[k + 1] == '\'') {
                ++k;
            } else {
                SyntaxError(condition);
            }
        }
        query.filterValue += literal[k];
    }
    return query;
}

[[noreturn]] void TableMissing(const std::string& name) {
    Raise(3078, L"DAO.Database",
          L"The Microsoft Jet database engine cannot find the input table or query '" + Wide(name) +
              L"'. Make sure it exists and that its name is spelled correctly.");
}

[[noreturn]] void TooFewParameters() {
    Raise(3061, L"DAO.Database", L"Too few parameters. Expected 1.");
}

std::string CompareText(const Value& value) {
    if (const auto* integer = std::get_if<int32_t>(&value)) {
        return std::to_string(*integer);
    }
    if (const auto* real = std::get_if<double>(&value)) {
        return std::to_string(*real);
    }
    return std::get<std::string>(value);
}

class Database final : public Dispatch {
  public:
    explicit Database(std::shared_ptr<DatabaseState> state) : state_(std::move(state)) {}

  protected:
    enum : DISPID { kOpenRecordset = 1, kClose, kName };
    std::vector<Member> Members() const override {
        return {{L"OpenRecordset", kOpenRecordset}, {L"Close", kClose}, {L"Name", kName}};
    }
    void Call(DISPID id, WORD flags, const Args& args, VARIANT* result) override {
        if (state_->closed) {
            Invalidated(L"DAO.Database");
        }
        switch (id) {
            case kOpenRecordset:
                Need(flags, DISPATCH_METHOD);
                args.AtMost(4);
                ReturnObject(result, Open(Utf8(TextOf(*args.Required(0))), args));
                return;
            case kClose:
                Need(flags, DISPATCH_METHOD);
                args.AtMost(0);
                state_->closed = true;
                return;
            case kName:
                Need(flags, DISPATCH_PROPERTYGET);
                args.AtMost(0);
                ReturnText(result, state_->path);
                return;
            default:
                throw HrError{DISP_E_MEMBERNOTFOUND};
        }
    }

  private:
    Recordset* Open(const std::string& source, const Args& args) {
        const bool isQuery = AsciiUpper(Trim(source)).compare(0, 6, "SELECT") == 0 &&
                             Trim(source).size() > 6 && IsSpace(Trim(source)[6]);
        // Left out: a table for a table's name, a dynaset for a statement.
        const long type = LongOf(args.At(1), isQuery ? 2 : 1);
        LongOf(args.At(2), 0);
        LongOf(args.At(3), 0);
        if (type != 1 && type != 2 && type != 4 && type != 8) {
            Raise(3001, L"DAO.Database", L"Invalid argument.");
        }
        if (type == 1 && isQuery) {
            Raise(3219, L"DAO.Database", L"Invalid operation.");
        }
        Query query;
        if (isQuery) {
            query = ParseQuery(Trim(source));
        } else {
            query.table = source;
        }
        Table* table = state_->store.Find(query.table);
        if (!table) {
            TableMissing(query.table);
        }
        auto rs = std::make_shared<RecordsetState>();
        rs->database = state_;
        rs->table = static_cast<size_t>(table - state_->store.tables.data());
        if (query.columns.empty()) {
            for (size_t c = 0; c < table->columns.size(); ++c) {
                rs->columns.push_back(static_cast<int>(c));
            }
        }
        for (const std::string& name : query.columns) {
            const int column = p2::daofake::ColumnOf(*table, name);
            if (column < 0) {
                TooFewParameters();
            }
            rs->columns.push_back(column);
        }
        int filter = -1;
        if (query.filtered) {
            filter = p2::daofake::ColumnOf(*table, query.filterColumn);
            if (filter < 0) {
                TooFewParameters();
            }
        }
        for (size_t r = 0; r < table->rows.size(); ++r) {
            const auto& row = table->rows[r];
            if (filter >= 0) {
                const Value& cell = row[static_cast<size_t>(filter)];
                // Text compares as the engine compares it: letter case aside.
                if (std::holds_alternative<Null>(cell) ||
                    p2::daofake::Fold(CompareText(cell)) != p2::daofake::Fold(query.filterValue)) {
                    continue;
                }
            }
            rs->rows.push_back(r);
            std::vector<Value> values;
            for (int c : rs->columns) {
                values.push_back(row[static_cast<size_t>(c)]);
            }
            rs->snapshot.push_back(std::move(values));
        }
        rs->updatable = (type == 1 || type == 2) && !state_->readOnly;
        return new Recordset(std::move(rs));
    }

    std::shared_ptr<DatabaseState> state_;
};

enum class ReadResult { kOk, kMissing, kNoPath, kInUse, kDenied };

ReadResult ReadWhole(const std::wstring& path, std::string& text) {
    HANDLE file = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                              nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        switch (GetLastError()) {
            case ERROR_FILE_NOT_FOUND:
                return ReadResult::kMissing;
            case ERROR_PATH_NOT_FOUND:
            case ERROR_INVALID_NAME:
                return ReadResult::kNoPath;
            case ERROR_SHARING_VIOLATION:
            case ERROR_LOCK_VIOLATION:
                return ReadResult::kInUse;
            default:
                return ReadResult::kDenied;
        }
    }
    char buffer[4096];
    DWORD n = 0;
    text.clear();
    while (ReadFile(file, buffer, sizeof buffer, &n, nullptr) && n > 0) {
        text.append(buffer, n);
    }
    CloseHandle(file);
    return ReadResult::kOk;
}

class DBEngine final : public Dispatch {
  protected:
    enum : DISPID { kSystemDB = 1, kDefaultUser, kDefaultPassword, kOpenDatabase };
    std::vector<Member> Members() const override {
        return {{L"SystemDB", kSystemDB},
                {L"DefaultUser", kDefaultUser},
                {L"DefaultPassword", kDefaultPassword},
                {L"OpenDatabase", kOpenDatabase}};
    }
    void Call(DISPID id, WORD flags, const Args& args, VARIANT* result) override {
        switch (id) {
            case kSystemDB:
                Property(systemDb_, flags, args, result);
                return;
            case kDefaultUser:
                Property(user_, flags, args, result);
                return;
            case kDefaultPassword:
                Property(password_, flags, args, result);
                return;
            case kOpenDatabase: {
                Need(flags, DISPATCH_METHOD);
                args.AtMost(4);
                const std::wstring name = TextOf(*args.Required(0));
                BoolOf(args.At(1));  // Options: exclusive or shared, the same for one user
                const bool readOnly = BoolOf(args.At(2));
                if (const VARIANT* connect = args.At(3)) {
                    TextOf(*connect);
                }
                ReturnObject(result, Open(name, readOnly));
                return;
            }
            default:
                throw HrError{DISP_E_MEMBERNOTFOUND};
        }
    }

  private:
    static void Property(std::wstring& value, WORD flags, const Args& args, VARIANT* result) {
        args.AtMost(0);
        if (flags & DISPATCH_PROPERTYPUT) {
            value = TextOf(args.PutValue());
            return;
        }
        Need(flags, DISPATCH_PROPERTYGET);
        ReturnText(result, value);
    }

    // The account is checked first, as the engine logs on before it opens a file.
    void LogOn() const {
        if (systemDb_.empty()) {
            if (CompareStringW(LOCALE_INVARIANT, NORM_IGNORECASE, user_.c_str(), -1, L"admin",
                               -1) != CSTR_EQUAL ||
                !password_.empty()) {
                Refused();
            }
            return;
        }
        std::string text;
        if (ReadWhole(systemDb_, text) != ReadResult::kOk) {
            WorkgroupMissing();
        }
        std::vector<std::string> lines;
        size_t start = 0;
        while (start < text.size()) {
            size_t end = text.find('\n', start);
            if (end == std::string::npos) {
                end = text.size();
            }
            std::string line = text.substr(start, end - start);
            if (!line.empty() && line.back() == '\r') {
                line.pop_back();
            }
            lines.push_back(line);
            start = end + 1;
        }
        if (lines.empty() || lines[0] != p2::daofake::kWorkgroupMarker) {
            WorkgroupMissing();
        }
        const std::string user = p2::daofake::Fold(Utf8(user_));
        const std::string password = Utf8(password_);
        for (size_t i = 1; i < lines.size(); ++i) {
            const size_t colon = lines[i].find(':');
            if (colon != std::string::npos &&
                p2::daofake::Fold(lines[i].substr(0, colon)) == user &&
                lines[i].substr(colon + 1) == password) {
                return;
            }
        }
        Refused();
    }

    [[noreturn]] static void WorkgroupMissing() {
        Raise(3028, L"DAO.DBEngine",
              L"Cannot start your application. The workgroup information file is missing or "
              L"opened exclusively by another user.");
    }
    [[noreturn]] static void Refused() {
        Raise(3029, L"DAO.DBEngine", L"Not a valid account name or password.");
    }

    Database* Open(const std::wstring& path, bool readOnly) const {
        LogOn();
        std::string text;
        switch (ReadWhole(path, text)) {
            case ReadResult::kOk:
                break;
            case ReadResult::kMissing:
                Raise(3024, L"DAO.Workspace", L"Could not find file '" + path + L"'.");
            case ReadResult::kNoPath:
                Raise(3044, L"DAO.Workspace", L"'" + path + L"' is not a valid path.");
            case ReadResult::kInUse:
                Raise(3045, L"DAO.Workspace",
                      L"Could not use '" + path + L"'; file already in use.");
            case ReadResult::kDenied:
                Raise(3051, L"DAO.Workspace",
                      L"The Microsoft Jet database engine cannot open the file '" + path +
                          L"'. It is already opened exclusively by another user, or you need "
                          L"permission to view its data.");
        }
        std::optional<Store> store = p2::daofake::Parse(text);
        if (!store) {
            Raise(3343, L"DAO.Workspace", L"Unrecognized database format '" + path + L"'.");
        }
        auto state = std::make_shared<DatabaseState>();
        state->path = path;
        state->store = std::move(*store);
        state->readOnly = readOnly;
        return new Database(std::move(state));
    }

    std::wstring systemDb_;
    std::wstring user_ = L"admin";
    std::wstring password_;
};

class ClassFactory final : public IClassFactory {
  public:
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** out) override {
        if (!out) {
            return E_POINTER;
        }
        if (IsEqualIID(riid, IID_IUnknown) || IsEqualIID(riid, IID_IClassFactory)) {
            *out = static_cast<IClassFactory*>(this);
            return S_OK;
        }
        *out = nullptr;
        return E_NOINTERFACE;
    }
    // The one factory lives as long as the module.
    ULONG STDMETHODCALLTYPE AddRef() override { return 2; }
    ULONG STDMETHODCALLTYPE Release() override { return 1; }
    HRESULT STDMETHODCALLTYPE CreateInstance(IUnknown* outer, REFIID riid, void** out) override {
        if (!out) {
            return E_POINTER;
        }
        *out = nullptr;
        if (outer) {
            return CLASS_E_NOAGGREGATION;
        }
        DBEngine* engine = new (std::nothrow) DBEngine();
        if (!engine) {
            return E_OUTOFMEMORY;
        }
        const HRESULT hr = engine->QueryInterface(riid, out);
        engine->Release();
        return hr;
    }
    HRESULT STDMETHODCALLTYPE LockServer(BOOL lock) override {
        if (lock) {
            InterlockedIncrement(&g_locks);
        } else {
            InterlockedDecrement(&g_locks);
        }
        return S_OK;
    }
};

ClassFactory g_factory;

bool SetText(HKEY root, const std::wstring& subKey, const wchar_t* name,
             const std::wstring& value) {
    HKEY key = nullptr;
    if (RegCreateKeyExW(root, subKey.c_str(), 0, nullptr, 0, KEY_WRITE, nullptr, &key, nullptr) !=
        ERROR_SUCCESS) {
        return false;
    }
    const LONG status =
        RegSetValueExW(key, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(value.c_str()),
                       static_cast<DWORD>((value.size() + 1) * sizeof(wchar_t)));
    RegCloseKey(key);
    return status == ERROR_SUCCESS;
}

std::wstring GetText(HKEY root, const std::wstring& subKey) {
    wchar_t value[256] = {};
    DWORD size = sizeof value - sizeof(wchar_t);
    HKEY key = nullptr;
    if (RegOpenKeyExW(root, subKey.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS) {
        return {};
    }
    DWORD type = 0;
    const LONG status =
        RegQueryValueExW(key, nullptr, nullptr, &type, reinterpret_cast<BYTE*>(value), &size);
    RegCloseKey(key);
    return status == ERROR_SUCCESS && type == REG_SZ ? std::wstring(value) : std::wstring();
}

void DeleteTree(HKEY root, const std::wstring& subKey) {
    HKEY key = nullptr;
    if (RegOpenKeyExW(root, subKey.c_str(), 0, KEY_READ | KEY_WRITE, &key) == ERROR_SUCCESS) {
        wchar_t child[256];
        for (;;) {
            DWORD length = 256;
            if (RegEnumKeyExW(key, 0, child, &length, nullptr, nullptr, nullptr, nullptr) !=
                ERROR_SUCCESS) {
                break;
            }
            DeleteTree(key, child);
        }
        RegCloseKey(key);
    }
    RegDeleteKeyW(root, subKey.c_str());
}

}  // namespace

extern "C" BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID) {
    if (reason == DLL_PROCESS_ATTACH) {
        g_module = instance;
        DisableThreadLibraryCalls(instance);
    }
    return TRUE;
}

STDAPI DllGetClassObject(REFCLSID clsid, REFIID riid, LPVOID* out) {
    if (!out) {
        return E_POINTER;
    }
    *out = nullptr;
    if (!IsEqualCLSID(clsid, kClsid)) {
        return CLASS_E_CLASSNOTAVAILABLE;
    }
    return g_factory.QueryInterface(riid, out);
}

STDAPI DllCanUnloadNow() {
    return g_objects == 0 && g_locks == 0 ? S_OK : S_FALSE;
}

STDAPI DllRegisterServer() {
    // Never stands in for an engine that is really there.
    const std::wstring current = GetText(HKEY_CLASSES_ROOT, std::wstring(kProgId) + L"\\CLSID");
    if (!current.empty() && current != kClsidText) {
        return SELFREG_E_CLASS;
    }
    wchar_t module[MAX_PATH * 4];
    const DWORD n = GetModuleFileNameW(g_module, module, MAX_PATH * 4);
    if (n == 0 || n >= MAX_PATH * 4) {
        return SELFREG_E_CLASS;
    }
    const std::wstring classKey = std::wstring(L"CLSID\\") + kClsidText;
    const bool ok =
        SetText(HKEY_CLASSES_ROOT, classKey, nullptr, kDescription) &&
        SetText(HKEY_CLASSES_ROOT, classKey + L"\\InprocServer32", nullptr,
                std::wstring(module, n)) &&
        SetText(HKEY_CLASSES_ROOT, classKey + L"\\InprocServer32", L"ThreadingModel",
                L"Apartment") &&
        SetText(HKEY_CLASSES_ROOT, classKey + L"\\ProgID", nullptr, kProgId) &&
        SetText(HKEY_CLASSES_ROOT, kProgId, nullptr, kDescription) &&
        SetText(HKEY_CLASSES_ROOT, std::wstring(kProgId) + L"\\CLSID", nullptr, kClsidText);
    return ok ? S_OK : SELFREG_E_CLASS;
}

STDAPI DllUnregisterServer() {
    if (GetText(HKEY_CLASSES_ROOT, std::wstring(kProgId) + L"\\CLSID") == kClsidText) {
        DeleteTree(HKEY_CLASSES_ROOT, kProgId);
    }
    DeleteTree(HKEY_CLASSES_ROOT, std::wstring(L"CLSID\\") + kClsidText);
    return S_OK;
}
