// IEnumPins and IEnumMediaTypes over a snapshot taken at creation; both share one shape.
#pragma once
#include "standins/webcam/MediaType.h"
#include "standins/webcam/Module.h"

#include <vector>

struct PinItems {
    using Item = IPin*;
    static Item Hand(IPin* pin) { return pin->AddRef(), pin; }
    static void Drop(IPin* pin) { pin->Release(); }
};

struct MediaTypeItems {
    using Item = AM_MEDIA_TYPE*;
    static Item Hand(AM_MEDIA_TYPE* mt) { return CloneMediaType(*mt); }
    static void Drop(AM_MEDIA_TYPE* mt) { DeleteMediaType(mt); }
};

template <class Interface, class Items>
class Enumerator final : public Interface {
public:
    using Item = typename Items::Item;

    // Takes ownership of items (references or copies made for it).
    explicit Enumerator(std::vector<Item> items, size_t pos = 0) : items_(std::move(items)), pos_(pos) {
        ++g_objects;
    }
    Enumerator(const Enumerator&) = delete;
    Enumerator& operator=(const Enumerator&) = delete;

    STDMETHODIMP QueryInterface(REFIID riid, void** ppv) override {
        if (!ppv) return E_POINTER;
        if (riid == IID_IUnknown || riid == __uuidof(Interface)) {
            *ppv = static_cast<Interface*>(this);
            AddRef();
            return S_OK;
        }
        *ppv = nullptr;
        return E_NOINTERFACE;
    }
    STDMETHODIMP_(ULONG) AddRef() override { return ++refs_; }
    STDMETHODIMP_(ULONG) Release() override {
        ULONG left = --refs_;
        if (!left) delete this;
        return left;
    }

    STDMETHODIMP Next(ULONG count, Item* out, ULONG* fetched) override {
        if (!out || (count > 1 && !fetched)) return E_POINTER;
        ULONG n = 0;
        for (; n < count && pos_ < items_.size(); ++n, ++pos_) {
            out[n] = Items::Hand(items_[pos_]);
            if (!out[n]) {
                while (n) Items::Drop(out[--n]);
                return E_OUTOFMEMORY;
            }
        }
        if (fetched) *fetched = n;
        return n == count ? S_OK : S_FALSE;
    }
    STDMETHODIMP Skip(ULONG count) override {
        if (count > items_.size() - pos_) {
            pos_ = items_.size();
            return S_FALSE;
        }
        pos_ += count;
        return S_OK;
    }
    STDMETHODIMP Reset() override {
        pos_ = 0;
        return S_OK;
    }
    STDMETHODIMP Clone(Interface** out) override {
        if (!out) return E_POINTER;
        std::vector<Item> copy;
        for (Item item : items_) {
            copy.push_back(Items::Hand(item));
            if (!copy.back()) {
                copy.pop_back();
                for (Item made : copy) Items::Drop(made);
                return E_OUTOFMEMORY;
            }
        }
        *out = new Enumerator(std::move(copy), pos_);
        return S_OK;
    }

private:
    ~Enumerator() {
        for (Item item : items_) Items::Drop(item);
        --g_objects;
    }

    std::vector<Item> items_;
    size_t pos_;
    std::atomic<ULONG> refs_{1};
};

using PinEnumerator = Enumerator<IEnumPins, PinItems>;
using MediaTypeEnumerator = Enumerator<IEnumMediaTypes, MediaTypeItems>;
