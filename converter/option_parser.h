#pragma once

// A command-line option parser over a caller's table of option definitions.
// Options begin with "-" (or "/"), a value is joined with "=", and an option
// may be abbreviated to any prefix that begins no other option. Faults are
// reported as status codes on the option concerned; the parser never prints.

#include <cstdint>

typedef wchar_t OPTCHAR;

enum ArgKind : std::int32_t {
    ARG_NONE = 0,      // takes no value; a joined value is a fault
    ARG_SEPARATE = 1,  // takes the joined value, else the next argument
    ARG_JOINED = 2,    // requires a value joined with "="
    ARG_OPTIONAL = 3,  // may have a value joined with "="
};

enum OptionStatus : std::int32_t {
    OPT_OK = 0,
    OPT_UNKNOWN = -1,
    OPT_AMBIGUOUS = -2,
    OPT_ARG_UNEXPECTED = -3,
    OPT_ARG_MISSING = -5,
    OPT_ARG_IS_OPTION = -6,
};

/// One row of an option table; a row with a negative id ends the table.
struct OptionDef {
    std::int32_t nOptionId;
    const OPTCHAR* pszArg;
    std::int32_t eArgKind;
};

#ifndef NDEBUG
/// Reports a failed debug check with its text, source file and line, then returns.
void reportDebugAssertion(const char* expression, const char* file, int line);
#define OPT_ASSERT(expression) \
    ((expression) ? static_cast<void>(0) : reportDebugAssertion(#expression, __FILE__, __LINE__))
#else
#define OPT_ASSERT(expression) static_cast<void>(0)
#endif

class COptionParser {
public:
    /// Starts parsing `argv` (element 0 is the program and is never examined) against `options`.
    COptionParser(int argc, OPTCHAR** argv, const OptionDef* options) { Start(argc, argv, options); }

    /// Starts over with a new argument vector and table.
    void Start(int argc, OPTCHAR** argv, const OptionDef* options)
    {
        m_rgOptions = options;
        m_nArgCount = argc;
        m_rgArgs = argv;
        m_nCurrentIdx = 0;
        m_nCurrentId = -1;
        m_pszText = nullptr;
        m_pszValue = nullptr;
        m_nStatus = OPT_OK;
        m_nScanFrom = 1;
    }

    /// Moves to the next option, good or faulty; returns false when none is left.
    bool NextOption()
    {
        m_nCurrentIdx = m_nScanFrom;
        m_nCurrentId = -1;
        m_pszText = nullptr;
        m_pszValue = nullptr;
        m_nStatus = OPT_OK;

        int nIdx = m_nCurrentIdx;
        int nFound = OPT_UNKNOWN;
        for (; nIdx < m_nArgCount; ++nIdx) {
            OPTCHAR* pszArg = m_rgArgs[nIdx];
            m_pszValue = nullptr;
            ApplySlashForm(pszArg);
            if (pszArg[0] == '-') {
                for (OPTCHAR* pch = pszArg; *pch != 0; ++pch) {
                    if (*pch == '=') {
                        *pch = 0;
                        m_pszValue = pch + 1;
                        break;
                    }
                }
            }
            nFound = FindOption(pszArg);
            if (nFound >= 0)
                break;
            if (pszArg[0] == '-') {
                m_pszText = pszArg;
                break;
            }
            m_pszValue = nullptr;
        }
        if (nIdx >= m_nArgCount)
            return false;

        m_nScanFrom = nIdx + 1;
        if (nFound < 0) {
            m_nStatus = nFound;
            return true;
        }

        const OptionDef& row = m_rgOptions[nFound];
        m_nCurrentId = row.nOptionId;
        m_pszText = row.pszArg;
        if (row.eArgKind == ARG_NONE && m_pszValue != nullptr)
            m_nStatus = OPT_ARG_UNEXPECTED;
        else if (row.eArgKind == ARG_JOINED && m_pszValue == nullptr)
            m_nStatus = OPT_ARG_MISSING;

        if (row.eArgKind == ARG_SEPARATE && m_pszValue == nullptr && m_nStatus == OPT_OK) {
            if (m_nScanFrom >= m_nArgCount) {
                m_nStatus = OPT_ARG_MISSING;
            } else {
                OPTCHAR* pszNext = m_rgArgs[m_nScanFrom];
                const OPTCHAR chFirst = pszNext[0];
                ApplySlashForm(pszNext);
                const bool fIsOption = pszNext[0] == '-';
                pszNext[0] = chFirst;
                if (fIsOption) {
                    m_nStatus = OPT_ARG_IS_OPTION;
                } else {
                    m_pszValue = pszNext;
                    ++m_nScanFrom;
                }
            }
        }
        return true;
    }

    /// Status of the current option: OPT_OK or a negative fault code.
    int ErrorCode() const { return m_nStatus; }

    /// Id of the current option's row, or -1 when no row matched.
    int CurrentId() const { return m_nCurrentId; }

    /// The matched row's option text, else the argument cut at its "="; null after the last option.
    const OPTCHAR* CurrentText() const { return m_pszText; }

    /// The current option's value, or null when it has none.
    const OPTCHAR* CurrentValue() const { return m_pszValue; }

private:
    // "/x" is another spelling of "-x"; a lone "/" and "/-x" stay as they are.
    static void ApplySlashForm(OPTCHAR* pszArg)
    {
        if (pszArg[0] == '/' && pszArg[1] != 0 && pszArg[1] != '-')
            pszArg[0] = '-';
    }

    // Returns the index of the row `pszArg` selects, or OPT_UNKNOWN or OPT_AMBIGUOUS.
    int FindOption(const OPTCHAR* pszArg) const
    {
        int nBest = -1;
        int nBestLength = 0;
        int nSecondLength = 0;
        for (int n = 0; m_rgOptions[n].nOptionId >= 0; ++n) {
            if (m_rgOptions[n].pszArg != nullptr)
                OPT_ASSERT(m_rgOptions[n].pszArg[0] != (OPTCHAR)'/');
            const int nLength = MatchLength(m_rgOptions[n].pszArg, pszArg);
            if (nLength == -1)
                return n;
            if (nLength > 0 && nLength >= nBestLength) {
                nSecondLength = nBestLength;
                nBestLength = nLength;
                nBest = n;
            }
        }
        if (nBest < 0)
            return OPT_UNKNOWN;
        return nBestLength > nSecondLength ? nBest : OPT_AMBIGUOUS;
    }

    // Returns -1 when `pszArg` is exactly `pszText`, the number of name
    // characters when it is a proper prefix with the same dashes, else 0.
    static int MatchLength(const OPTCHAR* pszText, const OPTCHAR* pszArg)
    {
        if (pszText == nullptr || pszArg == nullptr)
            return 0;
        int nDashes = 0;
        while (pszText[nDashes] == '-' && pszArg[nDashes] == '-')
            ++nDashes;
        if (pszText[nDashes] == '-' || pszArg[nDashes] == '-')
            return 0;
        int n = nDashes;
        while (pszText[n] != 0 && pszText[n] == pszArg[n])
            ++n;
        if (pszText[n] == 0)
            return pszArg[n] == 0 ? -1 : 0;
        return pszArg[n] == 0 ? n - nDashes : 0;
    }

    const OptionDef* m_rgOptions;
    int m_nCurrentIdx;
    int m_nCurrentId;
    int m_nScanFrom;
    int m_nArgCount;
    OPTCHAR** m_rgArgs;
    const OPTCHAR* m_pszText;
    const OPTCHAR* m_pszValue;
    int m_nStatus;
};
