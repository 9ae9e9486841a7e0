#include "jnd/jnd_weights.h"

namespace jnd {

const JndWeightSetData* ShippedWeightSet(int id) {
  switch (id) {
    case 1:
      return &kJndWeightSet1;
    case 2:
      return &kJndWeightSet2;
    case 3:
      return &kJndWeightSet3;
    case 4:
      return &kJndWeightSet4;
    default:
      return nullptr;
  }
}

}  // namespace jnd
