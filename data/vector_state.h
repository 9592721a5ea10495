#pragma once

namespace fa {

// Clears the upper halves of the processor's AVX registers on this thread.
//
// Qt's string hashing runs AVX code that leaves them in use, and nothing
// clears them afterwards; SQLite, built for plain SSE, then pays for every
// vector instruction it runs (a fifth of a rebuild's time). Called before
// SQLite steps a statement. Does nothing where there is no AVX.
void ClearUpperVectorState();

} // namespace fa
