#pragma once
// The toolkit's exception class and its kinds. Upgrade sequences catch only
// Exception; the byte buffer's range error (ByteBuffer.h) is deliberately not one.
#include <stdexcept>
#include <string>

namespace tolm {

class Exception : public std::exception {
public:
    explicit Exception(std::string message) : Message(std::move(message)) {}
    const char* what() const noexcept override { return Message.c_str(); }
    std::string Message;
};

// A text that could not be converted (number, colour, hex digits, ...).
class EConvertError : public Exception { using Exception::Exception; };
// A file that could not be opened; the message names the path.
class EFOpenError : public Exception { using Exception::Exception; };
// An index outside a list.
class EListError : public Exception { using Exception::Exception; };
// A component name that is not an identifier or is already taken.
class EComponentError : public Exception { using Exception::Exception; };

}  // namespace tolm
