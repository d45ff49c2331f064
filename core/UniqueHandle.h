// Move-only owner of a platform handle. Traits name the handle type, its empty value
// and how it is closed, so registry keys, process handles and snapshots share one
// owner while each keeps its own notion of "empty".
#pragma once

#include <utility>

template <typename Traits> class UniqueHandle
{
  public:
    using pointer = typename Traits::pointer;

    UniqueHandle() noexcept = default;
    explicit UniqueHandle(pointer value) noexcept : m_value(value) {}
    UniqueHandle(const UniqueHandle&) = delete;
    UniqueHandle& operator=(const UniqueHandle&) = delete;
    UniqueHandle(UniqueHandle&& other) noexcept : m_value(other.release()) {}
    UniqueHandle& operator=(UniqueHandle&& other) noexcept
    {
        if (this != &other)
            reset(other.release());
        return *this;
    }
    ~UniqueHandle() { reset(); }

    pointer get() const noexcept { return m_value; }
    explicit operator bool() const noexcept { return m_value != Traits::Empty(); }

    // Gives up ownership without closing.
    pointer release() noexcept
    {
        pointer value = m_value;
        m_value = Traits::Empty();
        return value;
    }

    // Closes the held handle (if any) and takes the new one.
    void reset(pointer value = Traits::Empty()) noexcept
    {
        pointer old = m_value;
        m_value = value;
        if (old != Traits::Empty())
            Traits::Close(old);
    }

    // For platform calls that return the handle through an out-parameter.
    pointer* put() noexcept
    {
        reset();
        return &m_value;
    }

  private:
    pointer m_value = Traits::Empty();
};
