// Operations the player's own files share; not part of its interface.
#ifndef KMOV_PLAYER_PLAYER_INTERNAL_H
#define KMOV_PLAYER_PLAYER_INTERNAL_H

#include <stdint.h>

// Reads the next RecordHeader from the ring into kmov_cmd, current_delay,
// current_length and current_param, refilling before each word when the
// ring holds fewer than 4 bytes. A stream that ends inside a header reads
// as the "end " record with delay, length and param 0, so a movie cut short
// ends its playback as at its end.
void player_read_record_header(void);

// Executes every record in front of the first "vblt" and leaves that one
// pending; stops early right after executing an "end " record, which then
// stays pending (a movie without frames). Used by the open and the rewind.
void player_preload_to_first_frame(void);

// The device's position in samples since it was opened or reset.
uint32_t player_sound_position(void);

// Makes the clock follow the sound from here: the device's present position
// is due at `time`. Called when "asta" starts the device, when play resumes
// it, and when a block is written to a device that had run dry. Nothing
// without a device.
void player_follow_sound(uint32_t time);

// Called as a block is about to be written. A device that has had nothing
// to play for a while (a pause in the movie's sound) plays the block when
// it comes, so the sound from here on is due with the pending record, and
// the tick waits for it to begin as after "asta". A device that ran dry
// only for a moment (a block written late, or a device that counts what it
// was handed rather than what it played) keeps the timeline it has.
void player_sound_block_coming(void);

// Reads the device's position and returns 1 when it has not moved for so
// long (3 s) that the device is taken not to be playing.
int player_sound_stalled(uint32_t now);

#endif
