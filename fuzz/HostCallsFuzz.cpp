// Host call sequences: each input is a bench choice followed by a stream of IADC3 / IDIO calls
// with arbitrary arguments on one driver object. Recordings run on the fast clock; the frames a
// recording delivers are checked for continuity through a counting input in the scan list, and
// every input ends with the recording stopped and its thread gone.

#include <algorithm>
#include <memory>
#include <string>
#include <vector>

#include "driver/DriverState.h"
#include "driver/E_270.h"
#include "fuzz/FuzzInput.h"
#include "fuzz/FuzzTargets.h"
#include "platform/Clock.h"
#include "quillbox/IADC3.h"
#include "quillbox/IDIO.h"
#include "settings/SettingsStore.h"
#include "sim/Bench.h"

namespace quillbox::fuzz {
namespace {

constexpr int kMaxCalls = 64;
// Logical channel 16 is the first direct input, which counts device frames (low byte).
constexpr int16_t kCountingChannel = 16;

std::string BenchText(uint8_t flags, uint8_t unplugTenths, std::string& attach) {
  attach = (flags & 1) != 0 ? "com3" : "usb0";
  std::string faults = "\"data_calls_fail\":" + std::string((flags & 2) ? "true" : "false") +
                       ",\"dio_calls_fail\":" + ((flags & 4) ? "true" : "false");
  if ((flags & 8) != 0) faults += ",\"unplug_after_s\":" + std::to_string(unplugTenths / 10.0);
  return "{\"modules\":[{\"attach\":\"" + attach +
         "\",\"slots\":[{\"type\":11},null,{\"type\":10},null,null,null,null,{\"type\":40}],"
         "\"signals\":{\"m0\":{\"kind\":\"counter\"},\"ad0\":{\"kind\":\"counter\"},"
         "\"ttl2\":{\"kind\":\"constant\",\"value\":1},"
         "\"m4\":{\"kind\":\"sine\",\"amplitude\":12,\"frequency\":3}},"
         "\"dio\":{\"inputs\":165},\"faults\":{" +
         faults + "}}]}";
}

// Follows the frames of the ring as the host takes them out.
class FrameChecker {
 public:
  // The ring now holds (or will hold) frames recorded with this scan list.
  void Reset(const std::vector<int16_t>& scan) {
    scan_ = scan;
    const auto it = std::find(scan_.begin(), scan_.end(), kCountingChannel);
    counting_ = it == scan_.end() ? -1 : static_cast<int>(it - scan_.begin());
    haveLast_ = haveStep_ = false;
  }
  std::size_t Channels() const { return scan_.size(); }
  const std::vector<int16_t>& Scan() const { return scan_; }

  void Frame(const int16_t* values) {
    if (counting_ < 0) return;
    const int v = values[counting_];
    FUZZ_CHECK(v >= 0 && v <= 255);
    if (haveLast_) {
      const int step = (v - last_) & 0xFF;
      if (!haveStep_) {
        step_ = step;
        haveStep_ = true;
      }
      // A lost, repeated or reordered frame breaks the constant step.
      FUZZ_CHECK(step == step_);
    }
    last_ = v;
    haveLast_ = true;
  }

 private:
  std::vector<int16_t> scan_;
  int counting_ = -1;
  int last_ = 0;
  bool haveLast_ = false;
  int step_ = 0;
  bool haveStep_ = false;
};

void TakeAll(IADC3& adc, FrameChecker& frames) {
  const BoundedArray2D<int16_t> all = adc.InputData();
  FUZZ_CHECK(all.Extent2() >= 1);
  // With nothing unread there may be no ring yet; the column then shows the current scan list.
  if (all.Extent2() == 1) return;
  const auto channels = static_cast<int32_t>(frames.Channels());
  FUZZ_CHECK(all.Extent1() == static_cast<std::size_t>(channels));
  for (int32_t j = 0; j < channels; ++j) FUZZ_CHECK(all(j, 0) == frames.Scan()[j]);
  for (int32_t k = 1; k < static_cast<int32_t>(all.Extent2()); ++k) frames.Frame(all.Column(k));
}

void TakeSome(IADC3& adc, FrameChecker& frames, int32_t room, int32_t claimed) {
  // The host's buffer holds exactly `room` values and it never claims more than that.
  std::vector<int16_t> buffer(static_cast<std::size_t>(std::max(room, 1)), int16_t{0x5555});
  int32_t dataSize = std::min(claimed, room);
  const int32_t asked = dataSize;
  int32_t unread = -1;
  const int32_t written = adc.GetData(buffer[0], dataSize, unread);
  const auto channels = static_cast<int32_t>(frames.Channels());
  FUZZ_CHECK(written >= 0 && unread >= 0);
  FUZZ_CHECK(dataSize == written * channels);
  if (channels > 0 && asked > 0) FUZZ_CHECK(written <= asked / channels);
  if (asked <= 0) FUZZ_CHECK(written == 0);
  for (int32_t k = 0; k < written; ++k)
    frames.Frame(buffer.data() + static_cast<std::size_t>(k) * static_cast<std::size_t>(channels));
  // Nothing beyond the values reported as written was touched.
  for (std::size_t i = static_cast<std::size_t>(std::max(dataSize, 0)); i < buffer.size(); ++i)
    FUZZ_CHECK(buffer[i] == 0x5555);
}

BoundedArray<int16_t> ScanList(FuzzInput& in) {
  const uint8_t how = in.Byte();
  const uint32_t count = how < 240 ? how % 40u : in.U16() % 3000u;
  const int32_t lower = (how & 0x80) != 0 ? in.I32() : 0;
  std::vector<int16_t> values(count);
  for (int16_t& v : values) {
    const uint8_t kind = in.Byte();
    v = kind < 200 ? static_cast<int16_t>(kind % 34) : in.I16();
  }
  return BoundedArray<int16_t>::FromVector(std::move(values), lower);
}

}  // namespace

int FuzzHostCalls(const uint8_t* data, std::size_t size) {
  PrepareProcess();
  FuzzInput in(data, size);

  std::string attach;
  const uint8_t flags = in.Byte();
  sim::LoadBench(BenchText(flags, in.Byte(), attach));
  // Settings a previous input left behind would change how this one starts.
  Registry().DeleteValue(cRegistry::kHKeyCurrentUser, SettingsKeyFor("E-270"), "Rate");
  Registry().DeleteValue(cRegistry::kHKeyCurrentUser, SettingsKeyFor("E-270"), "Channels");

  std::shared_ptr<E_270> object = CreateE_270();
  IADC3& adc = *object;
  IDIO& dio = *object;
  dio.DOStartEnabled(false);
  dio.DOStopEnabled(false);

  // Whatever a previous input left in the ring is taken out first.
  FrameChecker frames;
  {
    const BoundedArray2D<int16_t> left = adc.InputData();
    std::vector<int16_t> scan(left.Extent1());
    for (std::size_t j = 0; j < scan.size(); ++j) scan[j] = left(static_cast<int32_t>(j), 0);
    frames.Reset(scan);
  }
  if ((flags & 0x80) == 0) adc.Test();

  for (int call = 0; call < kMaxCalls && !in.empty(); ++call) {
    switch (in.ByteBelow(24)) {
      case 0:
        if (adc.Test()) FUZZ_CHECK(adc.Detected() && adc.BasePort() != 0);
        break;
      case 1: {
        const bool busy = adc.Busy();
        const float before = adc.Rate();
        adc.Rate(in.Float());
        if (busy) FUZZ_CHECK(adc.Rate() == before || before != before);
        break;
      }
      case 2: {
        const float r = adc.Rate();
        FUZZ_CHECK(r == r && r >= 0.0f);
        break;
      }
      case 3: {
        const int32_t request = in.Bool() ? in.I32() : static_cast<int32_t>(in.U16());
        adc.InputSizeData(request);
        if (!adc.Busy()) FUZZ_CHECK(adc.InputSizeData() == request);
        break;
      }
      case 4: {
        const bool busy = adc.Busy();
        const BoundedArray<int16_t> before = adc.InputChannels();
        const BoundedArray<int16_t> list = ScanList(in);
        adc.InputChannels(list);
        const BoundedArray<int16_t> after = adc.InputChannels();
        if (busy) {
          FUZZ_CHECK(after == before);
        } else {
          FUZZ_CHECK(after.values() == list.values() && after.LBound() == 0);
          FUZZ_CHECK(adc.InputCountChannels() == static_cast<int16_t>(list.size()));
        }
        break;
      }
      case 5: {
        const BoundedArray<int16_t> list = adc.InputChannels();
        FUZZ_CHECK(list.size() == static_cast<std::size_t>(adc.InputCountChannels()));
        break;
      }
      case 6:
        (void)adc.GetChannel(in.I16());
        break;
      case 7: {
        const BoundedArray<int16_t> values = adc.GetKadr();
        FUZZ_CHECK(values.size() == static_cast<std::size_t>(adc.InputCountChannels()));
        break;
      }
      case 8: {
        const bool wasBusy = adc.Busy();
        const bool detected = adc.Detected();
        const bool started = adc.StartRecord();
        if (wasBusy || !detected) FUZZ_CHECK(!started);
        if (started) {
          FUZZ_CHECK(adc.Busy());
          frames.Reset(adc.InputChannels().values());
        } else if (adc.LastError() == "Not enough memory for the frame ring!") {
          frames.Reset(adc.InputChannels().values());
        }
        break;
      }
      case 9:
        adc.StopRecord();
        FUZZ_CHECK(!adc.Busy());
        break;
      case 10:
        TakeAll(adc, frames);
        break;
      case 11: {
        const int32_t room = static_cast<int32_t>(in.U16() % 4096);
        const int32_t claimed = in.Bool() ? in.I32() : room;
        TakeSome(adc, frames, room, claimed);
        break;
      }
      case 12:
      case 13:
        platform::Sleep(uint32_t{in.Byte()} * 20u);
        break;
      case 14: {
        FUZZ_CHECK(adc.InputSizeData() == adc.InputSizeKadrs());
        FUZZ_CHECK(adc.InputCountKadrs() >= 0 && adc.InputCountData() >= 0);
        (void)adc.LastError();
        (void)adc.RateMax();
        break;
      }
      case 15: {
        const int16_t index = in.I16();
        (void)adc.ChannelName(index);
        (void)adc.ChannelRange(index);
        adc.ChannelRange(index, in.I16());
        const float scale = adc.ChannelUnitScale(index);
        FUZZ_CHECK(scale == scale);
        (void)adc.ChannelUnitOffset(index);
        (void)adc.ChannelUnitName(index);
        (void)adc.Ranges();
        break;
      }
      case 16:
        (void)dio.DIValue();
        (void)dio.DOValue();
        dio.DOValue(in.I32());
        break;
      case 17:
        dio.DOStartEnabled(in.Bool());
        dio.DOStartValue(in.I32());
        dio.DOStopEnabled(in.Bool());
        dio.DOStopValue(in.I32());
        break;
      case 18:
        sim::Unplug(attach);
        break;
      case 19:
        sim::Replug(attach);
        break;
      case 20:
        sim::SetDigitalInputs(attach, in.Byte());
        break;
      case 21: {
        // A second object of the host comes and goes: its end stops the recording and closes
        // the device of the shared state.
        std::shared_ptr<E_270> other = CreateE_270();
        (void)other->GetADC3();
        other.reset();
        FUZZ_CHECK(!adc.Busy());
        break;
      }
      case 22:
        (void)adc.InputCountKadrs();
        (void)adc.InputCountData();
        (void)adc.ADCName();
        (void)adc.Resolution();
        (void)adc.ChannelsCount();
        (void)dio.DIOName();
        (void)dio.Detected();
        (void)dio.DIBits();
        (void)dio.DOBits();
        break;
      case 23:
        // The host asks for the whole ring while frames keep coming in.
        platform::Sleep(200);
        TakeAll(adc, frames);
        break;
    }
  }

  if (adc.Busy()) adc.StopRecord();
  FUZZ_CHECK(!adc.Busy());
  FUZZ_CHECK(!State().Acq.HasThread());
  TakeAll(adc, frames);
  object.reset();
  return 0;
}

}  // namespace quillbox::fuzz
