// Hostile movies: headers and streams that break the movie format, each
// with the outcome the player must give. tests/test_hostile.cpp plays every
// one; the fuzz seed generator (fuzz/fuzz_seeds.cpp) starts the corpora
// from them. Built with the project's movie writer; nothing here depends on
// GoogleTest.
#ifndef KMOV_TESTS_HOSTILE_MOVIES_H
#define KMOV_TESTS_HOSTILE_MOVIES_H

#include <cstdint>
#include <string>
#include <vector>

namespace kmov::test {

struct HostileMovie {
    std::string name;
    std::vector<uint8_t> bytes;
    bool device = true; // a wave-out device is there
    enum Outcome {
        PLAYS,  // plays to its end (and again after the rewind) with no message
        FAILS,  // the player shows `message` and the process ends with exit code 1
        EITHER, // random bytes: one of the two, whichever the bytes lead to
    } outcome = PLAYS;
    std::string message; // FAILS: the error box's text (all of the player's texts
                         // met here are ASCII)
    int frames = -1;     // PLAYS: the presents of the first playback (-1: not checked)
};

// The well-formed movie the cases are made from: 41 x 30 frames (row_stride
// 44), four of them, each coded with literals; with `sound`, 22050 Hz at
// ldp 4 in buffers of 64 samples, two pairs, blocks in front of the first
// frame, "asta" behind it and a block per frame. Ring 2048 bytes, so the
// stream passes the ring's end several times.
std::vector<uint8_t> well_formed_movie(bool sound);

// Every case, in a fixed order with unique names.
std::vector<HostileMovie> hostile_movies();

} // namespace kmov::test

#endif
