// Lets a fuzz target run one module of the core inside the fake's exit
// handling: targets linked with -Wl,--wrap=_Z12ExpanderMainv get this in
// place of ExpanderMain, so RunExpander runs gDirectBody and every ReadError,
// BrokenError or exit of the core still ends at the fake's exit.
#include "expander/expander_state.h"
#include "fuzz_support.h"

extern "C" int __real__Z12ExpanderMainv();

extern "C" int __wrap__Z12ExpanderMainv() {
  if (gDirectBody == nullptr) return __real__Z12ExpanderMainv();
  ResetExpanderState();
  return gDirectBody();
}
