#pragma once
// What a firmware file reader or writer came to, as a value: the image layer shows nothing, the
// operation that knows what the user was doing shows the message.

struct FileResult {
    bool ok = false;
    const char* message = nullptr; // the product's message for the failure; null when there is none
    int systemError = 0;           // errno of the system call that failed; 0 when the file's content failed

    explicit operator bool() const { return ok; }

    static FileResult Success() { return {true, nullptr, 0}; }
    static FileResult Failure(const char* message, int systemError = 0) {
        return {false, message, systemError};
    }
};
