// Late binding through IDispatch, with every COM object and string owned by a wrapper so
// that it is released on the error path too.
#pragma once

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "platform/win32/Api_win32.h"

namespace p2::win32 {

template <class T>
class ComPtr {
  public:
    ComPtr() = default;
    explicit ComPtr(T* owned) : p_(owned) {}
    ComPtr(const ComPtr&) = delete;
    ComPtr& operator=(const ComPtr&) = delete;
    ComPtr(ComPtr&& other) noexcept : p_(std::exchange(other.p_, nullptr)) {}
    ComPtr& operator=(ComPtr&& other) noexcept {
        if (this != &other) {
            Reset();
            p_ = std::exchange(other.p_, nullptr);
        }
        return *this;
    }
    ~ComPtr() { Reset(); }
    void Reset() {
        if (p_) {
            std::exchange(p_, nullptr)->Release();
        }
    }
    T* get() const { return p_; }
    T* operator->() const { return p_; }
    T** Out() {
        Reset();
        return &p_;
    }
    explicit operator bool() const { return p_ != nullptr; }

  private:
    T* p_ = nullptr;
};

class Variant {
  public:
    Variant() { VariantInit(&v_); }
    ~Variant() { VariantClear(&v_); }
    Variant(const Variant&) = delete;
    Variant& operator=(const Variant&) = delete;
    VARIANT* get() { return &v_; }
    const VARIANT& operator*() const { return v_; }

  private:
    VARIANT v_;
};

// A size as COM counts it, in 32 bits on 64-bit Windows too; AppError 6 (overflow) beyond.
ULONG ComCount(size_t size);

// Initialises COM for this thread once; it stays initialised for the process's life.
void EnsureCom();

// Creates the class named by `progId`; AppError 429 when it cannot be created.
ComPtr<IDispatch> CreateObject(const wchar_t* progId);

// Calls member `name` with `args` (in the order written; the wrapper reverses them), and
// returns its result. A property put passes one argument, the new value. Failures raise the
// error number the object reported.
void Invoke(IDispatch* object, const wchar_t* name, WORD kind, std::vector<VARIANT*> args,
            VARIANT* result);
void Invoke(IDispatch* object, DISPID id, WORD kind, std::vector<VARIANT*> args, VARIANT* result);

// A result that must be an object.
ComPtr<IDispatch> TakeObject(Variant& result);

// A text argument owned by the caller.
class BstrArg {
  public:
    explicit BstrArg(const std::string& utf8);
    ~BstrArg() { VariantClear(&v_); }
    BstrArg(const BstrArg&) = delete;
    BstrArg& operator=(const BstrArg&) = delete;
    VARIANT* get() { return &v_; }

  private:
    VARIANT v_;
};

// The program's number for a failed call, from its HRESULT and exception record.
int32_t ComErrorNumber(HRESULT hr, const EXCEPINFO* exception);

}  // namespace p2::win32
