// The command-line vocabulary: NAME=value arguments and bare switches applied
// in command-line order against the option table, and the list syntaxes.
#pragma once

#include <string>
#include <vector>

#include "core/arguments.hpp"
#include "core/context.hpp"

namespace occusim {

// Text-to-number conversions as the C library reads them: leading blanks
// skipped, conversion stops at the first character that does not fit, no
// digits give 0.
int to_int(const std::string &s);
long to_long(const std::string &s);
double to_double(const std::string &s);



// Applies one argument against every row of the option table, in row order
// (cli/option_table.hpp).
void apply_argument(Context &ctx, const Argument &arg);
// The same for an argument as typed.
void apply_argument(Context &ctx, const std::string &arg);

// List syntaxes over the values of an argument; its name appears in error messages only.
// Syntax A: comma list into v[offset..]; a single value is replicated over the
// surveys known so far. Echoes "[ %4.2f ...]\n". Returns the count filled.
int get_arg_vec(Context &ctx, const Argument &a, Vec &v, int offset, int capacity);
// Syntax I: as syntax A with integers.
int get_arg_ivec(Context &ctx, const Argument &a, IVec &v, int capacity);
// Syntax T: one list filling row 0 and then row 1 over the nper surveys.
int get_arg_vec2(Context &ctx, const Argument &a, std::array<Vec, 2> &rows);
// Syntax M: phi(i,j) / p(i,j) into table[i][j], from entry 0 (',') or 1 (';').
int get_arg_phi(Context &ctx, const Argument &a, const std::string &rest,
                std::array<std::array<Vec, kMaxStates>, kMaxStates> &table);

// Sets up the covariate coefficients once all arguments are read.
void setup_coefficients(Context &ctx);

// True when arguments named a and b have their values read by the same option row
// (the names of one option, such as psiA and PsiA).
bool same_option(const std::string &a, const std::string &b);

} // namespace occusim
