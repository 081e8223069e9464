// The systematic encoder: each check symbol is a sum modulo Q of information symbols picked by
// the generator polynomials.
#pragma once

#include "code/nonbinary_codec.h"

namespace nbsim {

// Computes the nr check branches of one block from its nk information branches (each of L
// symbols 0..Q-1): checks[v][a] = (sum over i and the taps t of (i, v) of info[i][(a + t) mod L])
// mod Q. `checks` must hold nr branches of L symbols.
void encode(const NonBinaryCodec& codec, const BranchTable& info, BranchTable& checks);

}  // namespace nbsim
