#include "platform/win32/ui_automation_title_bar.h"

#include <objbase.h>
#include <oleauto.h>
#include <windows.h>

#include <cstdint>

namespace kestrove::platform::win32 {
namespace {

// The toolchain's headers declare UI Automation's ids but not its client
// interfaces, so the few methods used are declared here in their documented
// vtable order; the unused slots before them keep the offsets.
constexpr CLSID kClsidCUIAutomation = {
    0xff48dba4, 0x60ef, 0x4201, {0xaa, 0x87, 0x54, 0x10, 0x3e, 0xef, 0x59, 0x4e}};
constexpr IID kIidIUIAutomation = {
    0x30cbe57d, 0xd9d0, 0x452a, {0xab, 0x13, 0x7a, 0xc5, 0xac, 0x48, 0x25, 0xee}};
constexpr LONG kControlTypePropertyId = 30003;
constexpr LONG kTitleBarControlTypeId = 50037;
constexpr int kTreeScopeChildren = 2;

struct Condition : IUnknown {};

struct Element : IUnknown {
  virtual HRESULT STDMETHODCALLTYPE setFocus() = 0;                                         // 3
  virtual HRESULT STDMETHODCALLTYPE getRuntimeId(void**) = 0;                               // 4
  virtual HRESULT STDMETHODCALLTYPE findFirst(int scope, Condition*, Element** found) = 0;  // 5
  // 6 to 42: FindAll … get_CurrentItemStatus.
  virtual void STDMETHODCALLTYPE unused6() = 0;
  virtual void STDMETHODCALLTYPE unused7() = 0;
  virtual void STDMETHODCALLTYPE unused8() = 0;
  virtual void STDMETHODCALLTYPE unused9() = 0;
  virtual void STDMETHODCALLTYPE unused10() = 0;
  virtual void STDMETHODCALLTYPE unused11() = 0;
  virtual void STDMETHODCALLTYPE unused12() = 0;
  virtual void STDMETHODCALLTYPE unused13() = 0;
  virtual void STDMETHODCALLTYPE unused14() = 0;
  virtual void STDMETHODCALLTYPE unused15() = 0;
  virtual void STDMETHODCALLTYPE unused16() = 0;
  virtual void STDMETHODCALLTYPE unused17() = 0;
  virtual void STDMETHODCALLTYPE unused18() = 0;
  virtual void STDMETHODCALLTYPE unused19() = 0;
  virtual void STDMETHODCALLTYPE unused20() = 0;
  virtual void STDMETHODCALLTYPE unused21() = 0;
  virtual void STDMETHODCALLTYPE unused22() = 0;
  virtual void STDMETHODCALLTYPE unused23() = 0;
  virtual void STDMETHODCALLTYPE unused24() = 0;
  virtual void STDMETHODCALLTYPE unused25() = 0;
  virtual void STDMETHODCALLTYPE unused26() = 0;
  virtual void STDMETHODCALLTYPE unused27() = 0;
  virtual void STDMETHODCALLTYPE unused28() = 0;
  virtual void STDMETHODCALLTYPE unused29() = 0;
  virtual void STDMETHODCALLTYPE unused30() = 0;
  virtual void STDMETHODCALLTYPE unused31() = 0;
  virtual void STDMETHODCALLTYPE unused32() = 0;
  virtual void STDMETHODCALLTYPE unused33() = 0;
  virtual void STDMETHODCALLTYPE unused34() = 0;
  virtual void STDMETHODCALLTYPE unused35() = 0;
  virtual void STDMETHODCALLTYPE unused36() = 0;
  virtual void STDMETHODCALLTYPE unused37() = 0;
  virtual void STDMETHODCALLTYPE unused38() = 0;
  virtual void STDMETHODCALLTYPE unused39() = 0;
  virtual void STDMETHODCALLTYPE unused40() = 0;
  virtual void STDMETHODCALLTYPE unused41() = 0;
  virtual void STDMETHODCALLTYPE unused42() = 0;
  virtual HRESULT STDMETHODCALLTYPE currentBoundingRectangle(RECT* rect) = 0;  // 43
};

struct Automation : IUnknown {
  virtual void STDMETHODCALLTYPE unused3() = 0;
  virtual void STDMETHODCALLTYPE unused4() = 0;
  virtual void STDMETHODCALLTYPE unused5() = 0;
  virtual HRESULT STDMETHODCALLTYPE elementFromHandle(HWND window, Element** element) = 0;  // 6
  // 7 to 22: ElementFromPoint … CreateFalseCondition.
  virtual void STDMETHODCALLTYPE unused7() = 0;
  virtual void STDMETHODCALLTYPE unused8() = 0;
  virtual void STDMETHODCALLTYPE unused9() = 0;
  virtual void STDMETHODCALLTYPE unused10() = 0;
  virtual void STDMETHODCALLTYPE unused11() = 0;
  virtual void STDMETHODCALLTYPE unused12() = 0;
  virtual void STDMETHODCALLTYPE unused13() = 0;
  virtual void STDMETHODCALLTYPE unused14() = 0;
  virtual void STDMETHODCALLTYPE unused15() = 0;
  virtual void STDMETHODCALLTYPE unused16() = 0;
  virtual void STDMETHODCALLTYPE unused17() = 0;
  virtual void STDMETHODCALLTYPE unused18() = 0;
  virtual void STDMETHODCALLTYPE unused19() = 0;
  virtual void STDMETHODCALLTYPE unused20() = 0;
  virtual void STDMETHODCALLTYPE unused21() = 0;
  virtual void STDMETHODCALLTYPE unused22() = 0;
  virtual HRESULT STDMETHODCALLTYPE createPropertyCondition(LONG propertyId, VARIANT value,
                                                            Condition** condition) = 0;  // 23
};

// Released when it goes out of scope.
template <typename T>
struct Held {
  T* p = nullptr;
  Held() = default;
  Held(const Held&) = delete;
  Held& operator=(const Held&) = delete;
  ~Held() {
    if (p) p->Release();
  }
};

// One instance for the process, made on first use; null (with the reason)
// where UI Automation is not there.
Automation* automation(HRESULT& failure) {
  static HRESULT created = E_FAIL;
  static Automation* instance = [] {
    // The multithreaded apartment, as UI Automation asks of its clients: a
    // call then never waits on this thread's own message loop.
    CoInitializeEx(nullptr, COINIT_MULTITHREADED);
    void* made = nullptr;
    created = CoCreateInstance(kClsidCUIAutomation, nullptr, CLSCTX_INPROC_SERVER, kIidIUIAutomation, &made);
    return SUCCEEDED(created) ? static_cast<Automation*>(made) : nullptr;
  }();
  failure = created;
  return instance;
}

}  // namespace

RectResult uiAutomationTitleBar(WindowHandle window) {
  HRESULT failure = S_OK;
  Automation* uia = automation(failure);
  if (!uia) return RectResult{static_cast<std::int32_t>(failure), {}};
  HWND hwnd = reinterpret_cast<HWND>(static_cast<std::uintptr_t>(window));
  Held<Element> element;
  HRESULT hr = uia->elementFromHandle(hwnd, &element.p);
  if (FAILED(hr) || !element.p) return RectResult{static_cast<std::int32_t>(FAILED(hr) ? hr : E_FAIL), {}};
  VARIANT type;
  VariantInit(&type);
  type.vt = VT_I4;
  type.lVal = kTitleBarControlTypeId;
  Held<Condition> condition;
  hr = uia->createPropertyCondition(kControlTypePropertyId, type, &condition.p);
  if (FAILED(hr) || !condition.p) return RectResult{static_cast<std::int32_t>(FAILED(hr) ? hr : E_FAIL), {}};
  // The window's own children only: a search of every descendant would walk
  // a browser's whole page.
  Held<Element> titleBar;
  hr = element.p->findFirst(kTreeScopeChildren, condition.p, &titleBar.p);
  if (FAILED(hr)) return RectResult{static_cast<std::int32_t>(hr), {}};
  if (!titleBar.p) return RectResult{static_cast<std::int32_t>(E_FAIL), {}};
  RECT rect{};
  hr = titleBar.p->currentBoundingRectangle(&rect);
  if (FAILED(hr)) return RectResult{static_cast<std::int32_t>(hr), {}};
  return RectResult{0, PixelRect{rect.left, rect.top, rect.right, rect.bottom}};
}

}  // namespace kestrove::platform::win32
