#pragma once

#include <cstddef>
#include <string>
#include <vector>

#include "transfer/TransferFault.h"

// The servers one download run fetches game files from: the update list's
// own base URL first, then the mirrors of config.ini, in the order they are
// tried. A server that failed goes behind the others for the rest of the run,
// so the following files try it last too. Sources are named by their index
// in the list given (0: the list's own base URL); the order changes, the
// indices do not. Used by the download thread only.
class SourceOrder {
public:
    // bases: the list's own base URL, then the mirrors; a base equal to one
    // before it is left out.
    explicit SourceOrder(const std::vector<std::string>& bases);

    std::size_t Count() const { return m_bases.size(); }
    const std::string& Base(std::size_t source) const { return m_bases[source]; }

    // Which sources one file has tried since its attempt began.
    class Tried {
    public:
        bool Has(std::size_t source) const { return source < m_tried.size() && m_tried[source]; }
        void Add(std::size_t source);
        void Clear() { m_tried.clear(); }

    private:
        std::vector<bool> m_tried;
    };

    // The first source in the current order that tried does not hold; Count()
    // when every source has been tried.
    std::size_t Next(const Tried& tried) const;

    // A transfer from source ended with fault. A fault of the server (no
    // connection, a 5xx, a stall, a body cut short, an answer that cannot be
    // used) moves it behind the others; a 4xx only says the file is not
    // there and leaves the order as it is.
    void Failed(std::size_t source, TransferFault fault);

    // The sources in the current order (tests, the step trace).
    const std::vector<std::size_t>& Order() const { return m_order; }

private:
    std::vector<std::string> m_bases;
    std::vector<std::size_t> m_order;
};
