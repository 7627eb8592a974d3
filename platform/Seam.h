#pragma once

#include <functional>
#include <utility>

namespace bw {

// One answer of Windows that the program asks for through a function of its own: the real call by default, and
// for a test's scope whatever the test puts in its place (access denied to a standard user, the reparse tag of a
// cloud file, a path query that fails on a network share...). Nothing above the platform layer knows.
template <typename Signature> class TSeam;

template <typename Result, typename... Arguments> class TSeam<Result(Arguments...)> {
public:
    using Function = std::function<Result(Arguments...)>;

    explicit TSeam(Result (*real)(Arguments...)) : m_real(real) {}
    TSeam(const TSeam&) = delete;
    TSeam& operator=(const TSeam&) = delete;

    Result operator()(Arguments... arguments) const {
        return m_current ? m_current(std::forward<Arguments>(arguments)...)
                         : m_real(std::forward<Arguments>(arguments)...);
    }

    // The real call, for a replacement that answers otherwise only in some cases.
    Result Real(Arguments... arguments) const { return m_real(std::forward<Arguments>(arguments)...); }

    // Puts `replacement` in place of the call until the returned object goes; then the one before is back.
    class TScope {
    public:
        TScope(TSeam& seam, Function replacement) : m_seam(seam), m_before(std::move(seam.m_current)) {
            m_seam.m_current = std::move(replacement);
        }
        ~TScope() { m_seam.m_current = std::move(m_before); }
        TScope(const TScope&) = delete;
        TScope& operator=(const TScope&) = delete;

    private:
        TSeam& m_seam;
        Function m_before;
    };
    [[nodiscard]] TScope Replace(Function replacement) { return TScope(*this, std::move(replacement)); }

private:
    Result (*m_real)(Arguments...);
    Function m_current;
};

} // namespace bw
