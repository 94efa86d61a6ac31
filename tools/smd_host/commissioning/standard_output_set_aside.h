#pragma once

// Standard output set aside (sent to /dev/null) while this lives, so that the plug-in's diagnostic
// lines stay out of what a command prints there; what was written before is flushed first, and
// the command writes to output_fd(), the standard output it had.
class StandardOutputSetAside {
public:
    StandardOutputSetAside();
    ~StandardOutputSetAside();
    StandardOutputSetAside(const StandardOutputSetAside&) = delete;
    StandardOutputSetAside& operator=(const StandardOutputSetAside&) = delete;

    // The standard output as it was (standard output itself when it could not be kept, and then
    // nothing was set aside).
    int output_fd() const;

private:
    int saved_fd_ = -1;
};
