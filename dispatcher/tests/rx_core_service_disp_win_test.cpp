// The class at the binary level: the order of QueryInterface, aggregation, the slots of
// both tables as a client built elsewhere calls them, and IDispatch served from the type
// libraries.
#include <gtest/gtest.h>

#include "dispatcher/class_factory_win.h"
#include "dispatcher/server_lock_win.h"
#include "dispatcher/tests/dispatcher_support_win.h"
#include "foundation/kv_named_objects_win.h"

#include <sensevts.h>

#include <memory>
#include <vector>

namespace {
using namespace dispatcher_test;

extern "C" const IID IID_ISensLogon;

class DispatcherClass : public ::testing::Test {
protected:
    main_thread_apartment apartment_;
};

template <typename I>
com_ptr<I> query(IUnknown* object, const IID& iid) {
    com_ptr<I> result;
    object->QueryInterface(iid, result.put_void());
    return result;
}

TEST_F(DispatcherClass, QueryInterfaceAnswersIDispatchWithTheLogonPart) {
    const auto dispatcher = new_dispatcher();
    ASSERT_TRUE(dispatcher);
    const auto unknown = query<IUnknown>(dispatcher.get(), IID_IUnknown);
    const auto dispatch = query<IDispatch>(dispatcher.get(), IID_IDispatch);
    const auto logon = query<ISensLogon>(dispatcher.get(), IID_ISensLogon);
    ASSERT_TRUE(unknown && dispatch && logon);
    EXPECT_EQ(static_cast<void*>(dispatch.get()), static_cast<void*>(logon.get()));
    EXPECT_NE(static_cast<void*>(dispatch.get()), static_cast<void*>(dispatcher.get()));
    EXPECT_EQ(query<IUnknown>(logon.get(), IID_IUnknown).get(), unknown.get()) << "one identity";
    EXPECT_FALSE(query<IUnknown>(dispatcher.get(), IID_IClassFactory));
}

// An outer object that counts what its inner object delegates to it.
struct outer_object : IUnknown {
    LONG add_refs = 0, queries = 0;
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID, void** object) override {
        ++queries;
        *object = nullptr;
        return E_NOINTERFACE;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return ++add_refs; }
    ULONG STDMETHODCALLTYPE Release() override { return 1; }
};

TEST_F(DispatcherClass, AggregatedObjectsDelegateToTheOuterObject) {
    IClassFactory* factory = rx_core_service_disp_class_object();
    outer_object outer;
    void* refused = &outer;
    EXPECT_EQ(factory->CreateInstance(&outer, IID_RX_core_service_disp_i, &refused), CLASS_E_NOAGGREGATION);
    EXPECT_EQ(refused, nullptr);

    const LONG locks = server_lock_count();
    com_ptr<IUnknown> inner;
    ASSERT_EQ(factory->CreateInstance(&outer, IID_IUnknown, inner.put_void()), S_OK);
    EXPECT_EQ(server_lock_count(), locks + 1) << "a live object holds the server";
    RX_core_service_disp_i* part = nullptr;
    ASSERT_EQ(inner->QueryInterface(IID_RX_core_service_disp_i, reinterpret_cast<void**>(&part)), S_OK);
    const LONG before = outer.add_refs;
    part->AddRef();
    EXPECT_EQ(outer.add_refs, before + 1);
    void* other = nullptr;
    part->QueryInterface(IID_ISensLogon, &other);
    EXPECT_EQ(outer.queries, 1);
    inner.reset();
    EXPECT_EQ(server_lock_count(), locks);
}

// Calls through the raw tables, entry by entry, as a component built with another
// compiler does: call_function is entry 7 of RX_core_service_disp_i; Logon ... StopScreenSaver
// are entries 7 to 13 of ISensLogon.
using call_function_entry = HRESULT(STDMETHODCALLTYPE*)(void*, BSTR, BSTR*, LONG*);
using logon_entry = HRESULT(STDMETHODCALLTYPE*)(void*, BSTR);
void* entry(void* object, int index) { return (*static_cast<void***>(object))[index]; }

TEST_F(DispatcherClass, TableEntriesLieWhereClientsCallThem) {
    const auto dispatcher = new_dispatcher();
    BSTR ret = untouched;
    LONG ret_code = 0;
    const auto call_function = reinterpret_cast<call_function_entry>(entry(dispatcher.get(), 7));
    EXPECT_EQ(call_function(dispatcher.get(), nullptr, &ret, &ret_code), S_FALSE);
    EXPECT_EQ(ret_code, E_INVALIDARG);

    const auto logon = query<ISensLogon>(dispatcher.get(), IID_ISensLogon);
    const wchar_t* notifications[] = {L"user_logon", L"user_logoff", nullptr, L"screen_lock",
                                      L"screen_unlock", L"screen_saver_activated",
                                      L"screen_saver_deactivated"};
    const unique_bstr user(SysAllocString(L"SYSTEM"));
    for (int slot = 7; slot <= 13; ++slot) {
        const wchar_t* expected = notifications[slot - 7];
        SCOPED_TRACE(slot);
        std::vector<std::unique_ptr<KV_event>> listeners;
        for (const wchar_t* name : notifications)
            if (name) listeners.push_back(std::make_unique<KV_event>(
                          (L"{DB186164-5C92-42ad-A10E-D342FABB7EC6}[S-1-5-18](" + std::wstring(name) + L")").c_str(),
                          true, false));
        const auto handler = reinterpret_cast<logon_entry>(entry(logon.get(), slot));
        EXPECT_EQ(handler(logon.get(), user.get()), expected ? S_OK : E_NOTIMPL);
        std::size_t index = 0;
        for (const wchar_t* name : notifications) {
            if (!name) continue;
            EXPECT_EQ(listeners[index++]->wait(0), name == expected) << std::string(name, name + wcslen(name));
        }
    }
}

std::wstring documentation(ITypeInfo* info, MEMBERID member) {
    unique_bstr name, text;
    info->GetDocumentation(member, name.put(), text.put(), nullptr, nullptr);
    return text ? std::wstring(text.get()) : std::wstring();
}

TEST_F(DispatcherClass, ServiceInterfaceIsDescribedByRxCoreServiceLib) {
    const auto dispatcher = new_dispatcher();
    UINT count = 0;
    ASSERT_EQ(dispatcher->GetTypeInfoCount(&count), S_OK);
    EXPECT_EQ(count, 1u);
    com_ptr<ITypeInfo> info;
    ASSERT_EQ(dispatcher->GetTypeInfo(0, 0, info.put()), S_OK);
    EXPECT_EQ(documentation(info.get(), MEMBERID_NIL), L"RX_core_service_disp_i Interface");

    LPOLESTR method = const_cast<LPOLESTR>(L"call_function");
    DISPID id = 0;
    ASSERT_EQ(dispatcher->GetIDsOfNames(IID_NULL, &method, 1, 0, &id), S_OK);
    EXPECT_EQ(id, 1);
    EXPECT_EQ(documentation(info.get(), id), L"method call_function");
    BSTR names[4] = {};
    UINT found = 0;
    ASSERT_EQ(info->GetNames(id, names, 4, &found), S_OK);
    const unique_bstr owned[4] = {unique_bstr(names[0]), unique_bstr(names[1]), unique_bstr(names[2]),
                                  unique_bstr(names[3])};
    ASSERT_EQ(found, 4u);
    EXPECT_EQ(std::wstring(names[0]) + L"," + names[1] + L"," + names[2] + L"," + names[3],
              L"call_function,arg,ret,ret_code");

    com_ptr<ITypeLib> library;
    UINT index = 0;
    ASSERT_EQ(info->GetContainingTypeLib(library.put(), &index), S_OK);
    TLIBATTR* attributes = nullptr;
    ASSERT_EQ(library->GetLibAttr(&attributes), S_OK);
    EXPECT_TRUE(IsEqualGUID(attributes->guid, LIBID_RxCoreServiceLib));
    EXPECT_EQ(attributes->wMajorVerNum, 1);
    EXPECT_EQ(attributes->wMinorVerNum, 0);
    EXPECT_EQ(attributes->lcid, 1033u);
    library->ReleaseTLibAttr(attributes);
    unique_bstr library_text, class_text;
    library->GetDocumentation(-1, nullptr, library_text.put(), nullptr, nullptr);
    EXPECT_STREQ(library_text.get(), L"RxCoreService 1.0 Type Library");
    com_ptr<ITypeInfo> class_info;
    ASSERT_EQ(library->GetTypeInfoOfGuid(CLSID_RX_core_service_disp, class_info.put()), S_OK);
    EXPECT_EQ(documentation(class_info.get(), MEMBERID_NIL), L"RX_core_service_disp Class");
}

TEST_F(DispatcherClass, CallFunctionAndLogonEventsInvokeThroughIDispatch) {
    ASSERT_TRUE(register_sens_type_library());
    const auto dispatcher = new_dispatcher();
    // call_function(arg, &ret, &ret_code) with a null argument: refused in ret_code.
    BSTR ret = untouched;
    LONG ret_code = 0;
    VARIANT arguments[3];
    VariantInit(&arguments[2]);
    arguments[2].vt = VT_BSTR;
    arguments[2].bstrVal = nullptr;
    arguments[1].vt = VT_BYREF | VT_BSTR;
    arguments[1].pbstrVal = &ret;
    arguments[0].vt = VT_BYREF | VT_I4;
    arguments[0].plVal = &ret_code;
    DISPPARAMS parameters{arguments, nullptr, 3, 0};
    ASSERT_EQ(dispatcher->Invoke(1, IID_NULL, 0, DISPATCH_METHOD, &parameters, nullptr, nullptr, nullptr), S_OK);
    EXPECT_EQ(ret_code, E_INVALIDARG);
    EXPECT_EQ(ret, untouched);

    // The IDispatch part is ISensLogon's, described by the SENS events library.
    const auto dispatch = query<IDispatch>(dispatcher.get(), IID_IDispatch);
    LPOLESTR method = const_cast<LPOLESTR>(L"DisplayLock");
    DISPID id = 0;
    ASSERT_EQ(dispatch->GetIDsOfNames(IID_NULL, &method, 1, 0, &id), S_OK);
    KV_event listener(L"{DB186164-5C92-42ad-A10E-D342FABB7EC6}[S-1-5-18](screen_lock)", true, false);
    unique_variant user;
    V_VT(user.get()) = VT_BSTR;
    V_BSTR(user.get()) = SysAllocString(L"SYSTEM");
    DISPPARAMS one{user.get(), nullptr, 1, 0};
    EXPECT_EQ(dispatch->Invoke(id, IID_NULL, 0, DISPATCH_METHOD, &one, nullptr, nullptr, nullptr), S_OK);
    EXPECT_TRUE(listener.wait(0));
    EXPECT_EQ(dispatch->Invoke(id, IID_IUnknown, 0, DISPATCH_METHOD, &one, nullptr, nullptr, nullptr),
              DISP_E_UNKNOWNINTERFACE);
}

}  // namespace
