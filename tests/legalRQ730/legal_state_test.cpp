#include <gtest/gtest.h>

#include "legal_state.h"
#include "legalRQ730/signature.h"

using legal_rq730::LegalState;

namespace {

LegalState stateWithParameters() {
  LegalState state;
  state.parameters().serialNumber = 73012345;
  state.parameters().adjustmentCounter = 7;
  state.parameters().unit = 1;
  state.parameters().capacity = 3000;
  state.parameters().division = 2;
  return state;
}

}  // namespace

TEST(LegalState, ShowsSignedValuesAndDashesForBadSignatures) {
  LegalState state = stateWithParameters();
  EXPECT_EQ(state.weightText(), "------");  // nothing received yet
  state.writeWeight(legal_rq730::signWeight(73012345, 7, -5), -5);
  EXPECT_EQ(state.weightText(), "-10 kg");  // five divisions of 2 kg
  state.writeWeight(legal_rq730::signWeight(73012345, 7, -5), -6);
  EXPECT_EQ(state.weightText(), "------");
  state.writeZeroIndication(legal_rq730::signZeroIndication(73012345, 7, 1), 1);
  EXPECT_TRUE(state.atZero());
  state.writeZeroIndication(0x0000, 1);
  EXPECT_FALSE(state.atZero());
  EXPECT_EQ(state.rangeText(), "Max 3000 kg  d = 2 kg");
}

TEST(LegalState, ValuesBeforeTheParametersCannotBeChecked) {
  LegalState state;
  state.writeWeight(legal_rq730::signWeight(73012345, 7, 3), 3);
  EXPECT_EQ(state.weightText(), "------");
  EXPECT_NE(state.infoText().find("Serial number: --"), std::string::npos);
}
