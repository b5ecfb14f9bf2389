// Hooks for tests of the link: hold the transaction mutex as a long transaction would.
#pragma once

// Takes the transaction mutex of the open link (blocking); false when no link is open.
bool link_test_hold_transactions();
// Gives it back. Call on the thread that took it.
void link_test_release_transactions();
