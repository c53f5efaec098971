// The fake's default flash controller: answers at once, keeps what the
// tests look at. Its behaviour is described in tests/support/fake_zenapi.hpp.
#include <algorithm>

#include "tests/support/fake_zenapi/internal.hpp"

namespace fakezen {
namespace {

constexpr uint32_t kProgramBurst = 17;

uint32_t saturate16(std::size_t n) { return static_cast<uint32_t>(std::min<std::size_t>(n, 0xFFFF)); }

uint32_t busy_polls_for(const ControllerDevice &device, uint32_t code) {
    const auto found = device.busy_polls_by_code.find(code);
    return found != device.busy_polls_by_code.end() ? found->second : device.busy_polls;
}

uint32_t read_command(ControllerDevice &device) {
    if (device.busy_left == 0) return device.command & ~reg::kGo;
    if (device.busy_left != kForever) --device.busy_left;
    return device.command | reg::kGo;
}

void write_command(ControllerDevice &device, uint32_t word) {
    device.command = word;
    device.program_running = false;
    device.busy_left = 0;
    if (!(word & reg::kGo)) return;
    const uint32_t code = decode_command(word).code;
    device.commands.push_back(word);
    device.busy_left = busy_polls_for(device, code);
    if (code == kProgramBurst) {
        device.write_waiting = 0;
        device.program_running = true;
    }
    if (device.on_command) device.on_command(word);
}

void pop_if_zero(std::deque<uint32_t> &queue, uint32_t value) {
    if (value == 0 && !queue.empty()) queue.pop_front();
}

} // namespace

std::vector<uint32_t> ControllerDevice::command_codes() const {
    std::vector<uint32_t> codes;
    for (uint32_t word : commands) codes.push_back(decode_command(word).code);
    return codes;
}

namespace detail {

bool controller_decodes(uint32_t offset) {
    switch (offset) {
    case reg::kFifoControl:
    case reg::kReadFifoData:
    case reg::kCommand:
    case reg::kStatus:
    case reg::kWriteFifoData:
    case reg::kFifoLevel:
        return true;
    default:
        return false;
    }
}

uint32_t controller_read(ControllerDevice &device, uint32_t offset) {
    switch (offset) {
    case reg::kFifoControl:
        return device.fifo_control;
    case reg::kReadFifoData:
        return device.read_fifo.empty() ? 0 : device.read_fifo.front();
    case reg::kCommand:
        return read_command(device);
    case reg::kStatus:
        return device.status_words.empty() ? device.idle_status : device.status_words.front();
    case reg::kFifoLevel:
        return (saturate16(device.write_waiting) << 16) | saturate16(device.read_fifo.size());
    default:
        return 0;
    }
}

void controller_write(ControllerDevice &device, uint32_t offset, uint32_t value) {
    switch (offset) {
    case reg::kFifoControl:
        device.fifo_control = value;
        if (!(value & reg::kFifoRun)) {
            device.read_fifo.clear();
            device.write_waiting = 0;
        }
        break;
    case reg::kReadFifoData:
        pop_if_zero(device.read_fifo, value);
        break;
    case reg::kCommand:
        write_command(device, value);
        break;
    case reg::kStatus:
        pop_if_zero(device.status_words, value);
        break;
    case reg::kWriteFifoData:
        device.written.push_back(value);
        if (!device.program_running) ++device.write_waiting;
        break;
    default:
        break;
    }
}

} // namespace detail
} // namespace fakezen
