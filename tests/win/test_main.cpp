// The main of every Windows test program: started in a peer role
// (peer_process.h) it plays that role; otherwise it runs its tests.
#include <gtest/gtest.h>

#include "win/peer_process.h"

int main(int argc, char** argv) {
  if (const auto peerExitCode = peer::runRoleIfAsked(argc, argv)) return *peerExitCode;
  ::testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
