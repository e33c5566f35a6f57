// SPDX-License-Identifier: GPL-3.0-or-later
// Sounds through the desktop's sound theme service (libcanberra).
#pragma once

#include <string>

// Plays a sound file. With `wait` the call returns when the sound has ended
// (at most 30 s); otherwise at once. A missing file or a failure to play it
// gives the default beep instead. 0 when the file played, else the
// libcanberra error (negative) or ENOENT.
int Sound_PlayFile(const std::string& path, bool wait);

// The sound theme's new-mail event ("message-new-email"), for a user who
// chose no sound file; as Sound_PlayFile otherwise.
int Sound_PlayNewMail(bool wait);

// Ends every sound played with `wait` that is still playing, so that its
// caller returns now (a check being cancelled must not wait for the end of
// a long sound). Any thread.
void Sound_CancelAll();

// The desktop's default alert sound (the "bell" event of the sound theme).
void Sound_Beep();

// Lets the sound service go (its output driver and the sound library it
// loaded, about 1 MB) when no sound plays; the next sound brings it back.
// false while a sound still plays. Any thread.
bool Sound_ReleaseIfIdle();
