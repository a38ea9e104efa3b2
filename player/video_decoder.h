// The "vdat" decoder: turns one compressed frame into the frame buffer, in
// place over the previous frame.
#ifndef KMOV_PLAYER_VIDEO_DECODER_H
#define KMOV_PLAYER_VIDEO_DECODER_H

// Decodes the pending "vdat" record. On entry its header has been read
// (current_length = payload bytes) and the ring stands at the first payload
// byte; on return current_length is 0, the ring stands behind the payload
// (padding included) and frame_bits (height rows of row_stride bytes) holds
// the new frame. Reads frame_bits, width, height, row_stride; writes only
// the frame buffer, current_length and the ring's positions. Reports nothing.
//
// Nothing outside the frame buffer is read or written: a source byte outside
// it reads as 0 and a write past its end is dropped. Once current_length
// reaches 0 no further byte is taken from the ring: further code bytes read
// as 0, so a payload too short for its codes never eats the next record.
void decode_video_frame(void);

#endif
