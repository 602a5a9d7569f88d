// The foundation's COM owners. They are tested here, beside the COM code, because the
// foundation's own test program must not load oleaut32 (which brings in modules the
// library-list test may need unloaded).
#include "foundation/com_resource_win.h"

#include <gtest/gtest.h>

namespace {
// An object that counts its references, to see what the COM owners give back.
class counted final : public IUnknown {
public:
    STDMETHODIMP QueryInterface(REFIID iid, void** object) override {
        *object = IsEqualIID(iid, IID_IUnknown) ? this : nullptr;
        if (!*object) return E_NOINTERFACE;
        AddRef();
        return S_OK;
    }
    STDMETHODIMP_(ULONG) AddRef() override { return ++references; }
    STDMETHODIMP_(ULONG) Release() override { return --references; }
    ULONG references = 1;
};

TEST(ComResource, PointerAndVariantGiveBackTheirReferences) {
    counted object;
    {
        com_ptr<IUnknown> pointer;
        ASSERT_EQ(object.QueryInterface(IID_IUnknown, pointer.put_void()), S_OK);
        const com_ptr<IUnknown> copy = pointer;
        EXPECT_EQ(object.references, 3u);
    }
    EXPECT_EQ(object.references, 1u);
    {
        unique_variant holder;
        EXPECT_EQ(V_VT(holder.get()), VT_EMPTY);
        V_VT(holder.get()) = VT_UNKNOWN;
        V_UNKNOWN(holder.get()) = &object;
        object.AddRef();
    }
    EXPECT_EQ(object.references, 1u) << "VariantClear released the held reference";
}
}  // namespace
