// Test support for the preset bank: a snapshot of everything the bank is
// made of, to show that an operation changed nothing or exactly what it
// should.
#pragma once

#include <cstdio>
#include <ostream>
#include <string>
#include <vector>

#include "harness.h"
#include "store.h"

namespace test {

using loopmass::loopmass_view_bank;
using loopmass::loopmass_view_nmasses;
using loopmass::loopmass_view_raw;

inline std::string float_atom(float f)
{
    char buf[16];
    std::snprintf(buf, sizeof buf, "F%08x", test::bits(f));
    return buf;
}

// Atoms as text that tells types and float bits apart.
inline std::vector<std::string> atom_texts(const std::vector<t_atom> &atoms)
{
    std::vector<std::string> out;
    for (const t_atom &a : atoms) {
        switch (a.a_type) {
        case patcher::A_LONG:
            out.push_back("L" + std::to_string(a.a_w.w_long));
            break;
        case patcher::A_FLOAT:
            out.push_back(float_atom(a.a_w.w_float));
            break;
        case patcher::A_SEMI:
            out.push_back(";");
            break;
        case patcher::A_SYM:
            out.push_back(std::string("S") + a.a_w.w_sym->s_name);
            break;
        default:
            out.push_back("?" + std::to_string(a.a_type));
            break;
        }
    }
    return out;
}

inline std::vector<std::string> store_atoms(patcher::t_binbuf *b)
{
    return atom_texts(store::atoms(b));
}

// Everything the bank is made of.
struct BankState {
    int32_t nmasses, version, nentries, ncleared, nstored;
    std::vector<std::vector<int32_t>> index;
    std::vector<std::string> atoms;
    bool operator==(const BankState &o) const
    {
        return nmasses == o.nmasses && version == o.version && nentries == o.nentries && ncleared == o.ncleared &&
               nstored == o.nstored && index == o.index && atoms == o.atoms;
    }
};

inline BankState bank_state(t_loopmass *x)
{
    const loopmass::t_bankview bank = loopmass_view_bank(x);
    BankState s{bank.nmasses, bank.version, bank.entries, bank.cleared, bank.stored, {}, store_atoms(bank.store)};
    for (int e = 0; e < bank.nindex; e++)
        s.index.push_back({bank.index[e].number, bank.index[e].atoms, bank.index[e].bytes});
    return s;
}

// Printed by a failed comparison: the counters, the index and the size.
inline void PrintTo(const BankState &s, std::ostream *os)
{
    *os << "{nmasses " << s.nmasses << ", version " << s.version << ", entries " << s.nentries << ", cleared "
        << s.ncleared << ", stored " << s.nstored << ", index";
    for (const std::vector<int32_t> &e : s.index)
        *os << " {" << e[0] << " " << e[1] << " " << e[2] << "}";
    *os << ", " << s.atoms.size() << " atoms}";
}

// The raw profiles that recall of n gives, bits only.
inline std::vector<uint32_t> recalled(t_loopmass *x, int32_t n)
{
    loopmass::t_block b;
    std::vector<uint32_t> v;
    if (loopmass::loopmass_recall(x, b, n) != 0)
        return v;
    for (int k = 0; k < loopmass::NKINDS; k++)
        for (int i = 0; i < loopmass_view_nmasses(x); i++)
            v.push_back(test::bits(b[k][i]));
    return v;
}

inline std::vector<uint32_t> raw_bits(t_loopmass *x)
{
    std::vector<uint32_t> v;
    for (int k = 0; k < loopmass::NKINDS; k++)
        for (int i = 0; i < loopmass_view_nmasses(x); i++)
            v.push_back(test::bits(loopmass_view_raw(x, k + 1)[i]));
    return v;
}

} // namespace test
