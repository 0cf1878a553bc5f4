#pragma once
// Stream and operation failures, shared by the file codecs and the atomic writer.

#include <stdexcept>

// A stream delivered fewer bytes than were needed.
class EReadError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// Writing a file or stream failed (also the codecs' own "could not save" failure).
class EWriteError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// An operation the object cannot perform in its present state or format.
class EInvalidOperation : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// A file could not be opened or created.
class EFOpenError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};
