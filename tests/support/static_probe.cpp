// A scratch buffer of the kind the library must not have, so that the
// writable-statics check is seen to fail on one.
namespace {
char scratch[64];
}  // namespace

char *ProbeScratch() { return scratch; }
