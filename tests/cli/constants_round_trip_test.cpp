// Every constants field at both ends of its range through each reader and
// writer: the option, the command line a parent hands a child, the saved and
// read block, the report's JSON, a profile made from it, a job file and a
// record's JSON.
#include <gtest/gtest.h>

#include "cli/options.h"
#include "cli/profile.h"
#include "cli/report.h"
#include "station/job.h"
#include "station/record_json.h"
#include "tests/support/recording_host.h"

namespace orvane::cli {
namespace {

using device::ConstantsFields;
using device::FieldDescription;

struct Sample {
  const FieldDescription* field;
  std::string text;  // as typed after the option
  ConstantsChange change;
};

std::vector<Sample> BothEndsOfEachField() {
  std::vector<Sample> samples;
  for (const FieldDescription& d : device::kConstantsFields) {
    for (const std::int64_t end : {d.low, d.high}) {
      Sample sample{&d, "", {}};
      if (d.is_text()) {
        for (std::int64_t i = 0; i < end; ++i) sample.text += "Ж";
        sample.change.identifier = sample.text;
      } else {
        sample.text = std::to_string(end);
        sample.change.*d.number_change = static_cast<std::int32_t>(end);
      }
      samples.push_back(std::move(sample));
    }
  }
  return samples;
}

ConstantsChange Parsed(const std::vector<std::string>& arguments) {
  const ParseResult result = ParseOptions(arguments);
  EXPECT_TRUE(result.options) << result.error;
  return result.options ? result.options->constants : ConstantsChange{};
}

// The block a save sends, and the fields a read of it shows.
ConstantsFields SavedAndReadBack(const ConstantsFields& fields) {
  testing::RecordingHost host;
  device::Session session{host};
  host.session = &session;
  session.model().fields = fields;
  session.SaveConstants();
  const auto payload = session.link().queue().at(0).Payload();
  const std::vector<std::uint8_t> block(payload.begin(), payload.end());
  session.link().ClearQueue();
  session.model().fields = {"other", 1, 1, 1, 1, 1};
  session.QueueReadConstants();
  session.link().SendHead();
  const auto frame = testing::Frame(link::kConstantsRead, block);
  session.link().ReceiveData(frame.data(), frame.size());
  return session.model().fields;
}

std::string JobText(const FieldDescription& d, const std::string& text) {
  return "[constants]\n" + std::string(d.key) + " = " + (d.is_text() ? "\"" + text + "\"" : text) + "\n";
}

TEST(ConstantsRoundTrip, EveryFieldFromOptionToBlockToJsonAndBack) {
  for (const Sample& sample : BothEndsOfEachField()) {
    const FieldDescription& d = *sample.field;
    SCOPED_TRACE(std::string(d.option) + " " + sample.text);
    Options options;
    options.command = Command::kConstants;
    options.constants = Parsed({"constants", d.option, sample.text});
    EXPECT_EQ(options.constants, sample.change);
    EXPECT_EQ(Parsed(ArgumentsOf(options)), sample.change) << "a child's command line";

    ConstantsFields fields;
    device::ApplyChange(sample.change, fields);
    device::DeviceModel model;
    model.fields = SavedAndReadBack(fields);
    EXPECT_EQ(model.fields, fields);
    const std::string json = FormatJson(model);
    EXPECT_EQ(ModelFromJson(Json::parse(json)).fields, fields);

    ConstantsChange from_profile;
    const auto refusal = ApplyProfileText(json, from_profile);
    EXPECT_FALSE(refusal) << *refusal;
    EXPECT_FALSE(from_profile.serial_number) << "a console's own field never comes from a profile";
    EXPECT_TRUE(device::Holds(fields, from_profile));

    EXPECT_EQ(station::ConstantsFromJson(station::ConstantsToJson(sample.change)), sample.change);
    const auto job = station::ParseJob(JobText(d, sample.text), "/jobs/j.toml");
    if (d.per_console) {
      EXPECT_FALSE(job.value) << "a job's modems take their serial numbers from its counter";
    } else {
      ASSERT_TRUE(job.value) << job.error;
      EXPECT_EQ(job.value->constants, sample.change);
    }
  }
}

TEST(ConstantsRoundTrip, OnePastEitherEndIsRefusedByEveryReader) {
  for (const FieldDescription& d : device::kConstantsFields) {
    if (d.is_text()) continue;  // its ends are lengths: see the identifier's own tests
    for (const std::int64_t beyond : {d.low - 1, d.high + 1}) {
      const std::string text = std::to_string(beyond);
      SCOPED_TRACE(std::string(d.option) + " " + text);
      const std::string range = std::to_string(d.low) + " to " + std::to_string(d.high);
      const ParseResult parsed = ParseOptions({"constants", d.option, text});
      EXPECT_FALSE(parsed.options);
      EXPECT_EQ(parsed.error, std::string(d.option) + " must be a whole number from " + range + ", not \"" + text + "\"");
      if (d.per_console) continue;
      ConstantsChange untouched;
      const auto refusal = ApplyProfileText(R"({"constants":{")" + std::string(d.key) + "\":" + text + "}}", untouched);
      ASSERT_TRUE(refusal);
      EXPECT_EQ(*refusal, "constants." + std::string(d.key) + " must be a whole number from " + range + ", not " + text);
      const auto job = station::ParseJob(JobText(d, text), "/jobs/j.toml");
      ASSERT_FALSE(job.value);
      EXPECT_NE(job.error.find("constants." + std::string(d.key) + " must be from " + range + ", not " + text),
                std::string::npos)
          << job.error;
    }
  }
}

}  // namespace
}  // namespace orvane::cli
