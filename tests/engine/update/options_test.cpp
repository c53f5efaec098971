#include <memory>
#include <string>

#include <gtest/gtest.h>

#include <romwright/options.hpp>
#include <romwright/romwright.h>

namespace {

struct RecordDeleter {
    void operator()(romwright_options_record *record) const { romwright_options_free(record); }
};
using Record = std::unique_ptr<romwright_options_record, RecordDeleter>;

Record make_record() { return Record(romwright_options_create()); }

bool get_bool(const romwright_options_record *record, int32_t id) {
    bool value = false;
    EXPECT_EQ(romwright_options_get_bool(record, id, &value), ROMWRIGHT_RC_SUCCESS) << id;
    return value;
}

int32_t get_int(const romwright_options_record *record) {
    int32_t value = -12345;
    EXPECT_EQ(romwright_options_get_int(record, ROMWRIGHT_OPTION_MAX_RETRIES, &value), ROMWRIGHT_RC_SUCCESS);
    return value;
}

TEST(OptionsRecord, DefaultsAreTheDocumentedOnes) {
    Record record = make_record();
    ASSERT_TRUE(record);
    EXPECT_TRUE(get_bool(record.get(), 0));   // auto-select pages
    EXPECT_FALSE(get_bool(record.get(), 1));  // page 1
    EXPECT_FALSE(get_bool(record.get(), 2));  // page 0
    EXPECT_TRUE(get_bool(record.get(), 3));   // option bits
    EXPECT_TRUE(get_bool(record.get(), 4));   // verify
    EXPECT_FALSE(get_bool(record.get(), 5));  // debug
    EXPECT_EQ(get_int(record.get()), 15);
}

TEST(OptionsRecord, BoolOneIsPageOneAndTwoIsPageZero) {
    Record record = make_record();
    ASSERT_EQ(romwright_options_set_bool(record.get(), 1, true), ROMWRIGHT_RC_SUCCESS);
    EXPECT_TRUE(get_bool(record.get(), ROMWRIGHT_OPTION_WRITE_PAGE1));
    EXPECT_FALSE(get_bool(record.get(), ROMWRIGHT_OPTION_WRITE_PAGE0));

    Record other = make_record();
    ASSERT_EQ(romwright_options_set_bool(other.get(), 2, true), ROMWRIGHT_RC_SUCCESS);
    EXPECT_TRUE(get_bool(other.get(), ROMWRIGHT_OPTION_WRITE_PAGE0));
    EXPECT_FALSE(get_bool(other.get(), ROMWRIGHT_OPTION_WRITE_PAGE1));
}

TEST(OptionsRecord, EachBoolIdentifierReachesOnlyItsOwnField) {
    for (int32_t id = 0; id <= 5; ++id) {
        Record record = make_record();
        const bool before = get_bool(record.get(), id);
        ASSERT_EQ(romwright_options_set_bool(record.get(), id, !before), ROMWRIGHT_RC_SUCCESS);
        for (int32_t other = 0; other <= 5; ++other) {
            Record fresh = make_record();
            const bool expected = other == id ? !before : get_bool(fresh.get(), other);
            EXPECT_EQ(get_bool(record.get(), other), expected) << "set " << id << " read " << other;
        }
        EXPECT_EQ(get_int(record.get()), 15);
    }
}

TEST(OptionsRecord, IntegerOptionZeroIsMaxRetries) {
    Record record = make_record();
    ASSERT_EQ(romwright_options_set_int(record.get(), 0, 3), ROMWRIGHT_RC_SUCCESS);
    EXPECT_EQ(get_int(record.get()), 3);
}

TEST(OptionsRecord, BadIdentifiersGiveThree) {
    Record record = make_record();
    bool flag = false;
    int32_t number = 0;
    for (int32_t id : {-1, 6, 100}) {
        EXPECT_EQ(romwright_options_get_bool(record.get(), id, &flag), ROMWRIGHT_RC_INVALID_OPTION) << id;
        EXPECT_EQ(romwright_options_set_bool(record.get(), id, true), ROMWRIGHT_RC_INVALID_OPTION) << id;
    }
    for (int32_t id : {-1, 1, 5}) {
        EXPECT_EQ(romwright_options_get_int(record.get(), id, &number), ROMWRIGHT_RC_INVALID_OPTION) << id;
        EXPECT_EQ(romwright_options_set_int(record.get(), id, 7), ROMWRIGHT_RC_INVALID_OPTION) << id;
    }
    EXPECT_EQ(get_int(record.get()), 15);
}

TEST(OptionsRecord, MissingRecordOrResultGivesFour) {
    Record record = make_record();
    bool flag = false;
    int32_t number = 0;
    EXPECT_EQ(romwright_options_get_bool(nullptr, 0, &flag), ROMWRIGHT_RC_NULL_POINTER);
    EXPECT_EQ(romwright_options_get_bool(record.get(), 0, nullptr), ROMWRIGHT_RC_NULL_POINTER);
    EXPECT_EQ(romwright_options_set_bool(nullptr, 0, true), ROMWRIGHT_RC_NULL_POINTER);
    EXPECT_EQ(romwright_options_get_int(nullptr, 0, &number), ROMWRIGHT_RC_NULL_POINTER);
    EXPECT_EQ(romwright_options_get_int(record.get(), 0, nullptr), ROMWRIGHT_RC_NULL_POINTER);
    EXPECT_EQ(romwright_options_set_int(nullptr, 0, 1), ROMWRIGHT_RC_NULL_POINTER);
    // A missing record outranks a bad identifier.
    EXPECT_EQ(romwright_options_set_bool(nullptr, 9, true), ROMWRIGHT_RC_NULL_POINTER);
    EXPECT_EQ(romwright_options_get_int(nullptr, 9, &number), ROMWRIGHT_RC_NULL_POINTER);
}

TEST(OptionsRecord, CloneAndCopyTakeAllSevenFields) {
    Record source = make_record();
    for (int32_t id = 0; id <= 5; ++id) romwright_options_set_bool(source.get(), id, !get_bool(source.get(), id));
    romwright_options_set_int(source.get(), 0, 2);

    Record clone(romwright_options_clone(source.get()));
    ASSERT_TRUE(clone);
    Record copy = make_record();
    ASSERT_EQ(romwright_options_copy(copy.get(), source.get()), ROMWRIGHT_RC_SUCCESS);
    for (int32_t id = 0; id <= 5; ++id) {
        EXPECT_EQ(get_bool(clone.get(), id), get_bool(source.get(), id)) << id;
        EXPECT_EQ(get_bool(copy.get(), id), get_bool(source.get(), id)) << id;
    }
    EXPECT_EQ(get_int(clone.get()), 2);
    EXPECT_EQ(get_int(copy.get()), 2);
}

TEST(OptionsRecord, CopyWithAMissingRecordGivesOne) {
    Record record = make_record();
    EXPECT_EQ(romwright_options_copy(nullptr, record.get()), ROMWRIGHT_RC_ERROR);
    EXPECT_EQ(romwright_options_copy(record.get(), nullptr), ROMWRIGHT_RC_ERROR);
    EXPECT_EQ(romwright_options_clone(nullptr), nullptr);
    romwright_options_free(nullptr);  // harmless
}

TEST(RomwrightException, TextCarriesTheCode) {
    const romwright::exception error(3);
    EXPECT_EQ(error.code(), 3);
    EXPECT_STREQ(error.what(), "Firmware updater error. Code 3\n");
    EXPECT_STREQ(error.std::runtime_error::what(), "");
    try {
        throw romwright::exception(1);
    } catch (const std::exception &e) {
        EXPECT_STREQ(e.what(), "Firmware updater error. Code 1\n");
    }
}

TEST(OptionsValue, DefaultsAndSetters) {
    romwright::options options;
    ASSERT_NE(options.record(), nullptr);
    EXPECT_TRUE(options.get_bool(ROMWRIGHT_OPTION_AUTO_SELECT_PAGES));
    EXPECT_EQ(options.get_int(ROMWRIGHT_OPTION_MAX_RETRIES), 15);
    options.set_bool(ROMWRIGHT_OPTION_WRITE_PAGE0, true);
    options.set_int(ROMWRIGHT_OPTION_MAX_RETRIES, 4);
    EXPECT_TRUE(options.get_bool(ROMWRIGHT_OPTION_WRITE_PAGE0));
    EXPECT_EQ(options.get_int(ROMWRIGHT_OPTION_MAX_RETRIES), 4);
}

TEST(OptionsValue, BadIdentifierRaisesWithTheResult) {
    romwright::options options;
    try {
        options.set_bool(6, true);
        ADD_FAILURE() << "accepted bool 6";
    } catch (const romwright::exception &e) {
        EXPECT_EQ(e.code(), ROMWRIGHT_RC_INVALID_OPTION);
        EXPECT_STREQ(e.what(), "Firmware updater error. Code 3\n");
    }
    EXPECT_THROW(options.get_int(1), romwright::exception);
}

TEST(OptionsValue, CopiesAreIndependentRecords) {
    romwright::options original;
    original.set_bool(ROMWRIGHT_OPTION_DEBUG, true);
    romwright::options copy(original);
    EXPECT_NE(copy.record(), original.record());
    EXPECT_TRUE(copy == original);
    copy.set_int(ROMWRIGHT_OPTION_MAX_RETRIES, 1);
    EXPECT_TRUE(copy != original);
    EXPECT_EQ(original.get_int(ROMWRIGHT_OPTION_MAX_RETRIES), 15);
}

TEST(OptionsValue, AssignmentCopiesIntoTheOwnedRecord) {
    romwright::options source;
    source.set_bool(ROMWRIGHT_OPTION_VERIFY_PAGES, false);
    romwright::options target;
    romwright_options_record *owned = target.record();
    target = source;
    EXPECT_EQ(target.record(), owned);
    EXPECT_FALSE(target.get_bool(ROMWRIGHT_OPTION_VERIFY_PAGES));
    const romwright::options &same = target;
    target = same;  // self-assignment keeps the values
    EXPECT_FALSE(target.get_bool(ROMWRIGHT_OPTION_VERIFY_PAGES));
}

} // namespace
