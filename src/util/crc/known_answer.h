// known_answer.h -- every kernel and multiplier checked against answers
// known at compile time before it is installed.
//
// The load-time choice trusts no code blindly: a kernel that passed the
// tests on the processors here may still give wrong words on another
// processor, compiler or hypervisor, and a wrong word means good data
// reported corrupt or corrupt data passed as good.  So the chosen row runs
// once on a fixed input (constexpr data) and its words are compared with
// words that the compiler computed bit by bit; a row that disagrees is not
// installed.  The check runs inside the load-time constructor: it reads
// only constant data and the stack, allocates nothing and prints nothing.
#ifndef ZELKOR_UTIL_CRC_KNOWN_ANSWER_H
#define ZELKOR_UTIL_CRC_KNOWN_ANSWER_H

#include "multiply.h"
#include "tiers.h"

namespace zelkor {

// Whether the row's native kernel (its model, with `model`) gives the known
// words: 64-byte chunks, a group of 512-byte chunks and one more, a lone
// chunk long enough for the lone-chunk rounds, a short partial chunk, and a
// lone chunk continued from a running register.  A row without a kernel
// (the slot routine) holds trivially.
bool known_answers_hold(const tier_row &row, bool model);

// Whether the multiplier composes the known words into the known CRC.
bool known_answers_hold(const multiplier_row &row);

// The row to install for a chosen one: itself if it holds, else the nearest
// row before it in the table (of the same polynomial, native, run by these
// features) that holds, else the polynomial's slot routine row.
const tier_row &agreeing_tier(const tier_row &chosen, const cpu_features &f);
const multiplier_row &agreeing_multiplier(const multiplier_row &chosen, const cpu_features &f);

// Test hook: the check of this row (a tier_row or a multiplier_row; null:
// none) disagrees as a faulty kernel's would.  Never while another thread
// may be choosing.
void disagree_for_test(const void *row);

}  // namespace zelkor

#endif  // ZELKOR_UTIL_CRC_KNOWN_ANSWER_H
