// A background routine for a window, stoppable at once from the window's thread.
//
// The routine sleeps between passes on the object's wake semaphore, so a stop wakes it without
// waiting out the poll period. The object is shared between the owner and the routine: when a
// stop gives up waiting (the routine is still inside a slow exchange), the object lives on until
// the routine returns.
#pragma once

#include <cstdint>

struct worker_thread;

// The routine receives the object and returns 0. It must follow this contract: do a pass; if
// worker_thread_stopping, return; worker_thread_wait for the poll period; if stopping, return.
using worker_routine = int (*)(worker_thread* self);

// Starts the routine at once. nullptr when the thread cannot be created. free_user, when given,
// is called with the user data once the object goes away: after the routine has returned and
// the owner has stopped it, whichever is later (also when the thread cannot be created).
worker_thread* worker_thread_start(worker_routine routine, void* user_data, void (*free_user)(void*) = nullptr);

// Stops the routine and gives up the owner's reference; returns nullptr for the caller to store
// back. Accepts nullptr. Does not wait: a routine inside an exchange finishes it and returns on
// its own, and the object lives until it has.
worker_thread* worker_thread_stop(worker_thread* worker);

// A reference of one's own, for waiting on the routine's end elsewhere (worker_thread_join).
// Accepts nullptr.
worker_thread* worker_thread_retain(worker_thread* worker);
// Waits at most ms for the routine to return and gives up the reference taken by
// worker_thread_retain. True when the routine has returned (or worker is nullptr).
bool worker_thread_join(worker_thread* worker, uint32_t ms);

// Waits at most ms until every routine started so far has returned: before a program ends, so
// that no routine still runs while the program's own objects are destroyed. True when none runs.
bool worker_thread_join_all(uint32_t ms);

void* worker_thread_user(const worker_thread* worker);
bool worker_thread_stopping(const worker_thread* worker);

// Waits up to ms on the wake semaphore; returns true when woken by a stop (or a wake).
bool worker_thread_wait(worker_thread* worker, uint32_t ms);

// Releases the wake semaphore once (it holds at most one release): a routine in its poll wait
// starts its next pass at once. Accepts nullptr.
void worker_thread_wake(worker_thread* worker);

// Pauses between the entries of a list read: a 2 ms wait with the stop flag checked before and
// after. Returns true when the routine should stop.
bool worker_thread_pause(worker_thread* worker);
