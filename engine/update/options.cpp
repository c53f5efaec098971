// The options record behind its C accessors, and the C++ value types the
// front ends hold it through.
#include <new>
#include <string>

#include <romwright/options.hpp>

#include "engine/update/options_record.hpp"

namespace {

// Boolean option identifiers map to record fields; note 1 is page 1 and 2 is page 0.
constexpr bool romwright::UpdateOptions::*kBoolFields[] = {
    &romwright::UpdateOptions::auto_select_pages,  // 0
    &romwright::UpdateOptions::write_page1,        // 1
    &romwright::UpdateOptions::write_page0,        // 2
    &romwright::UpdateOptions::write_option_bits,  // 3
    &romwright::UpdateOptions::verify_pages,       // 4
    &romwright::UpdateOptions::debug,              // 5
};
constexpr int32_t kBoolFieldCount = static_cast<int32_t>(std::size(kBoolFields));

bool valid_bool_id(int32_t id) { return id >= 0 && id < kBoolFieldCount; }
bool valid_int_id(int32_t id) { return id == ROMWRIGHT_OPTION_MAX_RETRIES; }

} // namespace

extern "C" {

romwright_options_record *romwright_options_create(void) { return new (std::nothrow) romwright_options_record(); }

romwright_options_record *romwright_options_clone(const romwright_options_record *record) {
    if (!record) return nullptr;
    return new (std::nothrow) romwright_options_record(*record);
}

ROMWRIGHT_RC romwright_options_copy(romwright_options_record *destination, const romwright_options_record *source) {
    if (!destination || !source) return ROMWRIGHT_RC_ERROR;
    *destination = *source;
    return ROMWRIGHT_RC_SUCCESS;
}

void romwright_options_free(romwright_options_record *record) { delete record; }

ROMWRIGHT_RC romwright_options_get_bool(const romwright_options_record *record, int32_t id, bool *value) {
    if (!record || !value) return ROMWRIGHT_RC_NULL_POINTER;
    if (!valid_bool_id(id)) return ROMWRIGHT_RC_INVALID_OPTION;
    *value = record->*kBoolFields[id];
    return ROMWRIGHT_RC_SUCCESS;
}

ROMWRIGHT_RC romwright_options_set_bool(romwright_options_record *record, int32_t id, bool value) {
    if (!record) return ROMWRIGHT_RC_NULL_POINTER;
    if (!valid_bool_id(id)) return ROMWRIGHT_RC_INVALID_OPTION;
    record->*kBoolFields[id] = value;
    return ROMWRIGHT_RC_SUCCESS;
}

ROMWRIGHT_RC romwright_options_get_int(const romwright_options_record *record, int32_t id, int32_t *value) {
    if (!record || !value) return ROMWRIGHT_RC_NULL_POINTER;
    if (!valid_int_id(id)) return ROMWRIGHT_RC_INVALID_OPTION;
    *value = record->max_retries;
    return ROMWRIGHT_RC_SUCCESS;
}

ROMWRIGHT_RC romwright_options_set_int(romwright_options_record *record, int32_t id, int32_t value) {
    if (!record) return ROMWRIGHT_RC_NULL_POINTER;
    if (!valid_int_id(id)) return ROMWRIGHT_RC_INVALID_OPTION;
    record->max_retries = value;
    return ROMWRIGHT_RC_SUCCESS;
}

} // extern "C"

namespace romwright {
namespace {

romwright_options_record *require(romwright_options_record *record) {
    if (!record) throw exception(ROMWRIGHT_RC_ERROR);
    return record;
}

void check(ROMWRIGHT_RC rc) {
    if (rc != ROMWRIGHT_RC_SUCCESS) throw exception(rc);
}

} // namespace

exception::exception(ROMWRIGHT_RC code)
    : error(error_kind::entry, ""), code_(code), text_("Firmware updater error. Code " + std::to_string(code) + "\n") {}

exception::exception(ROMWRIGHT_RC code, const error &cause) : exception(code) { cause_.emplace(cause); }

options::options() : record_(require(romwright_options_create())) {}

options::options(const options &other) : record_(require(romwright_options_clone(other.record_))) {}

options &options::operator=(const options &other) {
    check(romwright_options_copy(record_, other.record_));
    return *this;
}

options::~options() { romwright_options_free(record_); }

bool options::get_bool(int32_t id) const {
    bool value = false;
    check(romwright_options_get_bool(record_, id, &value));
    return value;
}

void options::set_bool(int32_t id, bool value) { check(romwright_options_set_bool(record_, id, value)); }

int32_t options::get_int(int32_t id) const {
    int32_t value = 0;
    check(romwright_options_get_int(record_, id, &value));
    return value;
}

void options::set_int(int32_t id, int32_t value) { check(romwright_options_set_int(record_, id, value)); }

bool options::operator==(const options &other) const {
    return static_cast<const UpdateOptions &>(*record_) == static_cast<const UpdateOptions &>(*other.record_);
}

} // namespace romwright
