// One owner per resource: a small move-only wrapper that closes what it holds
// exactly once; one traits struct (and one type name) per kind of resource.
// Closing an empty wrapper does nothing.
//
//   struct RQBLFileTraits {
//       using handle_type = FILE*;
//       static FILE* Empty() { return nullptr; }
//       static bool IsValid(FILE* p) { return p != nullptr; }
//       static void Close(FILE* p) { std::fclose(p); }
//   };
//   using CRQBLFile = CRQBLUniqueHandle<RQBLFileTraits>;
#pragma once

#include <utility>

template <typename Traits>
class CRQBLUniqueHandle {
public:
    using handle_type = typename Traits::handle_type;

    CRQBLUniqueHandle() = default;
    explicit CRQBLUniqueHandle(handle_type h) : m_h(Traits::IsValid(h) ? h : Traits::Empty()) {}
    ~CRQBLUniqueHandle() { Close(); }
    CRQBLUniqueHandle(const CRQBLUniqueHandle&) = delete;
    CRQBLUniqueHandle& operator=(const CRQBLUniqueHandle&) = delete;
    CRQBLUniqueHandle(CRQBLUniqueHandle&& other) noexcept : m_h(other.Release()) {}
    CRQBLUniqueHandle& operator=(CRQBLUniqueHandle&& other) noexcept {
        if (this != &other) {
            Reset(other.Release());
        }
        return *this;
    }

    handle_type Get() const { return m_h; }
    explicit operator bool() const { return Traits::IsValid(m_h); }
    handle_type Release() { return std::exchange(m_h, Traits::Empty()); }
    void Reset(handle_type h = Traits::Empty()) {
        Close();
        m_h = Traits::IsValid(h) ? h : Traits::Empty();
    }
    void Close() {
        if (Traits::IsValid(m_h)) {
            Traits::Close(m_h);
        }
        m_h = Traits::Empty();
    }

private:
    handle_type m_h = Traits::Empty();
};
