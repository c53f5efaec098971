// The flash controller's result words (status register 35): each read gives
// a transaction result (bits 27..26) and an error result (bits 29..28), and
// below them the data of the last query. A word is good only when the
// transaction succeeded with no error; anything else becomes a
// flash_status_error that carries both fields decoded.
#pragma once

#include <cstdint>
#include <string>

#include <romwright/error.hpp>

namespace romwright {

enum class TransactionResult : uint32_t {
    in_progress = 0,
    success = 1,
    error = 2,
    reserved = 3,
};

enum class ErrorResult : uint32_t {
    none = 0,
    not_ready_for_write = 1,
    timeout = 2,        // on writing or reading
    read_fifo_full = 3, // no room in the C2S (card to system) FIFO for what was read
};

struct FlashStatus {
    uint32_t word = 0;
    TransactionResult transaction = TransactionResult::in_progress;
    ErrorResult error = ErrorResult::none;

    static FlashStatus decode(uint32_t word) noexcept;
    bool good() const noexcept { return transaction == TransactionResult::success && error == ErrorResult::none; }
};

// The controller's own words for each value ("1: Transaction success", "2:
// Timout on writing or reading", ...), as the log shows them.
const char *describe(TransactionResult result) noexcept;
const char *describe(ErrorResult result) noexcept;

// A result word that is not good. what() is "Transaction result = <text>\n
// Error result = <text>\n"; the kind is a time-out when the error result says
// so, else a failed device call.
class flash_status_error : public error {
public:
    explicit flash_status_error(const FlashStatus &status);
    const FlashStatus &status() const noexcept { return status_; }

private:
    FlashStatus status_;
};

} // namespace romwright
