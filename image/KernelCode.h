#pragma once

// The pixel loops (statistics, grey mapping, colour conversion) come in two
// codes: plain loops every CPU runs, which the compiler vectorizes for its
// target, and hand-written AVX2 loops, which x86-64 CPUs with AVX2 run
// instead. Tests and benchmarks ask for each; everything else takes the
// fastest the CPU has.
enum class KernelCode { Fastest, Vector256, Portable };

// Whether a call asking for `code` runs the AVX2 loops on this CPU.
bool runsAvx2(KernelCode code);
