#pragma once

// Where a thread posts a message of type M for the window thread (WindowMessageQueue).
// Posting never waits for the handler, and whatever the message carries is moved, never
// shared, between threads.
template <class M> class Poster {
public:
    virtual ~Poster() = default;
    virtual void post(M message) = 0;
};
