#include <dlfcn.h>

#include <new>
#include <stdexcept>

#include <gtest/gtest.h>

#include "automation/automation.h"

struct IWidget : IDispatch {
  STDMETHOD(get_Width)(double* width) PURE;
};
inline constexpr IID IID_IWidget = *pgx::auto_::ParseGuid("{0B7D4F62-1C3A-4E59-8D21-6A9C0E3F5B14}");
PGX_DEFINE_INTERFACE_ID(IWidget, IDispatch, IID_IWidget);

namespace pgx::auto_ {
namespace {

class Widget final : public Object<Widget, IWidget, ISupportErrorInfo> {
 public:
  explicit Widget(bool* destroyed = nullptr) : destroyed_(destroyed) {}
  ~Widget() {
    if (destroyed_) *destroyed_ = true;
  }
  STDMETHODIMP get_Width(double* width) override {
    *width = 1e-6;
    return S_OK;
  }
  STDMETHODIMP GetTypeInfoCount(UINT* count) override {
    *count = 0;
    return S_OK;
  }
  STDMETHODIMP GetTypeInfo(UINT, LCID, ITypeInfo**) override { return E_NOTIMPL; }
  STDMETHODIMP GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) override { return E_NOTIMPL; }
  STDMETHODIMP Invoke(DISPID, REFIID, LCID, WORD, DISPPARAMS*, VARIANT*, EXCEPINFO*, UINT*) override {
    return E_NOTIMPL;
  }
  STDMETHODIMP InterfaceSupportsErrorInfo(REFIID riid) override {
    return riid == IID_IWidget ? S_OK : S_FALSE;
  }
  // The widget's events interface IID is served by its dual interface.
  void* FindExtraInterface(REFIID riid) {
    return riid == kWidgetEvents ? static_cast<IWidget*>(this) : nullptr;
  }
  static constexpr IID kWidgetEvents = {
      0x0B7D4F63, 0x1C3A, 0x4E59, {0x8D, 0x21, 0x6A, 0x9C, 0x0E, 0x3F, 0x5B, 0x14}};

 private:
  bool* destroyed_;
};

class Throwing final : public Object<Throwing, ISupportErrorInfo> {
 public:
  explicit Throwing(int how) {
    if (how == 1) throw std::bad_alloc();
    throw std::runtime_error("construction failed");
  }
  STDMETHODIMP InterfaceSupportsErrorInfo(REFIID) override { return S_FALSE; }
};

TEST(ObjectTest, QueryInterfaceAnswersTheListedInterfacesAndTheirBases) {
  ComPtr<Widget> widget = Widget::Make();
  IUnknown* identity = nullptr;
  ASSERT_EQ(widget->QueryInterface(IID_IUnknown, reinterpret_cast<void**>(&identity)), S_OK);

  const IID* answered[] = {&IID_IWidget, &IID_IDispatch, &IID_ISupportErrorInfo};
  for (const IID* iid : answered) {
    void* itf = nullptr;
    ASSERT_EQ(widget->QueryInterface(*iid, &itf), S_OK) << GuidToString(*iid);
    // The same identity through every interface.
    IUnknown* again = nullptr;
    static_cast<IUnknown*>(itf)->QueryInterface(IID_IUnknown, reinterpret_cast<void**>(&again));
    EXPECT_EQ(again, identity);
    again->Release();
    static_cast<IUnknown*>(itf)->Release();
  }
  void* dispatch = nullptr;
  widget->QueryInterface(IID_IDispatch, &dispatch);
  EXPECT_EQ(dispatch, static_cast<IDispatch*>(static_cast<IWidget*>(widget.Get())));
  static_cast<IDispatch*>(dispatch)->Release();

  void* extra = nullptr;
  ASSERT_EQ(widget->QueryInterface(Widget::kWidgetEvents, &extra), S_OK);
  EXPECT_EQ(extra, static_cast<IWidget*>(widget.Get()));
  static_cast<IWidget*>(extra)->Release();

  void* none = reinterpret_cast<void*>(0x1);
  EXPECT_EQ(widget->QueryInterface(IID_IEnumVARIANT, &none), E_NOINTERFACE);
  EXPECT_EQ(none, nullptr);
  EXPECT_EQ(widget->QueryInterface(IID_IWidget, nullptr), E_POINTER);
  identity->Release();
  EXPECT_EQ(widget->RefCount(), 1u);
}

TEST(ObjectTest, LastReleaseDestroysAndObjectsCountInTheModule) {
  long before = Module::ObjectCount();
  bool destroyed = false;
  IWidget* raw = nullptr;
  ASSERT_EQ(Widget::CreateInstance(IID_IWidget, reinterpret_cast<void**>(&raw), &destroyed), S_OK);
  EXPECT_EQ(Module::ObjectCount(), before + 1);
  EXPECT_EQ(Module::CanUnloadNow(), S_FALSE);
  EXPECT_EQ(raw->AddRef(), 2u);
  EXPECT_EQ(raw->Release(), 1u);
  EXPECT_FALSE(destroyed);
  EXPECT_EQ(raw->Release(), 0u);
  EXPECT_TRUE(destroyed);
  EXPECT_EQ(Module::ObjectCount(), before);
}

TEST(ObjectTest, FailedConstructionBecomesAnHresult) {
  long before = Module::ObjectCount();
  void* out = reinterpret_cast<void*>(0x1);
  EXPECT_EQ(Throwing::CreateInstance(IID_IUnknown, &out, 1), E_OUTOFMEMORY);
  EXPECT_EQ(out, nullptr);
  EXPECT_EQ(Throwing::CreateInstance(IID_IUnknown, &out, 2), E_UNEXPECTED);
  EXPECT_EQ(Module::ObjectCount(), before);
  EXPECT_EQ(Widget::CreateInstance(IID_IEnumVARIANT, &out), E_NOINTERFACE);  // and nothing leaks
  EXPECT_EQ(Module::ObjectCount(), before);
}

TEST(ObjectTest, ComPtrBalancesReferences) {
  ComPtr<Widget> widget = Widget::Make();
  {
    ComPtr<IWidget> a = widget;  // converting copy
    ComPtr<IWidget> b = a;
    EXPECT_EQ(widget->RefCount(), 3u);
    ComPtr<IWidget> c = std::move(b);
    EXPECT_FALSE(b);
    EXPECT_EQ(widget->RefCount(), 3u);
    ComPtr<IDispatch> d;
    ASSERT_EQ(c.As(&d), S_OK);
    EXPECT_EQ(widget->RefCount(), 4u);
    ComPtr<IEnumVARIANT> e;
    EXPECT_EQ(c.As(&e), E_NOINTERFACE);
    IWidget* out = nullptr;
    ASSERT_EQ(a.CopyTo(&out), S_OK);
    EXPECT_EQ(widget->RefCount(), 5u);
    ComPtr<IWidget> adopted = AttachComPtr(out);  // takes over the reference from CopyTo
    IWidget* detached = adopted.Detach();
    EXPECT_EQ(widget->RefCount(), 5u);
    detached->Release();
    a = a;  // self-assignment keeps the reference
    EXPECT_EQ(widget->RefCount(), 4u);
    a = nullptr;
    EXPECT_EQ(widget->RefCount(), 3u);
  }
  EXPECT_EQ(widget->RefCount(), 1u);
  ComPtr<IWidget> empty;
  ComPtr<IDispatch> d;
  EXPECT_EQ(empty.As(&d), E_POINTER);
}

TEST(ObjectTest, IssueErrorExTakesErrorInfoOnlyFromSupportingObjects) {
  ComPtr<Widget> widget = Widget::Make();
  IUnknown* object = static_cast<IWidget*>(widget.Get());
  struct Case {
    const char* what;
    IUnknown* object;
    const IID* iid;
    bool takes_record;
  } cases[] = {
      {"supported for the interface", object, &IID_IWidget, true},
      {"not supported for IDispatch", object, &IID_IDispatch, false},
      {"no object", nullptr, &IID_IWidget, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    RaiseError(E_FAIL, IID_IWidget, u"Widget", u"described");
    try {
      IssueErrorEx(E_FAIL, c.object, *c.iid);
      ADD_FAILURE() << "no exception";
    } catch (const com_error& e) {
      EXPECT_EQ(e.Error(), E_FAIL);
      EXPECT_EQ(e.Description(), c.takes_record ? u"described" : u"");
    }
    // Either way the record is gone from the thread: taken, or cleared as belonging to something else.
    IErrorInfo* stale = nullptr;
    EXPECT_EQ(GetErrorInfo(0, &stale), S_FALSE);
    if (stale) stale->Release();
  }
}

// The module keeps its own counts: objects it creates do not count in the program's module, and the
// program's objects do not keep the module from unloading.
TEST(ObjectTest, CountsArePerLoadedModule) {
  void* module = dlopen(PGX_COUNTING_MODULE, RTLD_NOW | RTLD_LOCAL);
  ASSERT_NE(module, nullptr) << dlerror();
  auto get_class_object = reinterpret_cast<LPFNGETCLASSOBJECT>(dlsym(module, "DllGetClassObject"));
  auto can_unload = reinterpret_cast<LPFNCANUNLOADNOW>(dlsym(module, "DllCanUnloadNow"));
  ASSERT_NE(get_class_object, nullptr);
  ASSERT_NE(can_unload, nullptr);
  constexpr CLSID kCountedClass = {
      0x5F0C3A1E, 0x7B2D, 0x4C8E, {0x9A, 0x61, 0x3D, 0x2B, 0x8E, 0x4F, 0x1A, 0x07}};

  long program_before = Module::ObjectCount();
  ComPtr<Widget> program_object = Widget::Make();
  EXPECT_EQ(can_unload(), S_OK);

  {
    ComPtr<IClassFactory> factory;
    ASSERT_EQ(get_class_object(kCountedClass, IID_IClassFactory, factory.ReleaseAndGetAddressOfVoid()), S_OK);
    ComPtr<IUnknown> object;
    ASSERT_EQ(factory->CreateInstance(nullptr, IID_IUnknown, object.ReleaseAndGetAddressOfVoid()), S_OK);
    EXPECT_EQ(can_unload(), S_FALSE);
    EXPECT_EQ(Module::ObjectCount(), program_before + 1);  // only the program's own object

    ComPtr<IUnknown> aggregated;
    EXPECT_EQ(factory->CreateInstance(object.Get(), IID_IUnknown, aggregated.ReleaseAndGetAddressOfVoid()),
              CLASS_E_NOAGGREGATION);
    object.Reset();
    EXPECT_EQ(can_unload(), S_FALSE);  // the factory a client holds keeps the module as well

    ASSERT_EQ(factory->LockServer(TRUE), S_OK);
    EXPECT_EQ(Module::LockCount(), 0);
    factory.Reset();
    EXPECT_EQ(can_unload(), S_FALSE);  // the lock alone keeps the module
    ASSERT_EQ(get_class_object(kCountedClass, IID_IClassFactory, factory.ReleaseAndGetAddressOfVoid()), S_OK);
    ASSERT_EQ(factory->LockServer(FALSE), S_OK);
    EXPECT_EQ(can_unload(), S_FALSE);
  }
  EXPECT_EQ(can_unload(), S_OK);
  void* unused = nullptr;
  EXPECT_EQ(get_class_object(IID_IWidget, IID_IClassFactory, &unused), CLASS_E_CLASSNOTAVAILABLE);
  EXPECT_EQ(dlclose(module), 0);
}

}  // namespace
}  // namespace pgx::auto_
