// A minimal host: creates the driver object, opens the module, records one second of two channels
// and prints each frame's values in the channels' units.
#include <quillbox/CreateObject.h>
#include <quillbox/IADC3.h>

#include <chrono>
#include <cstdio>
#include <thread>
#include <vector>

int main() try {
  auto adc = quillbox::As<quillbox::IADC3>(quillbox::CreateObject("Quillbox.E_270"));
  if (!adc || !adc->Test()) {  // Test() opens the module
    std::fprintf(stderr, "no module: %s\n", adc ? adc->LastError().c_str() : "no IADC3");
    return 1;
  }
  const std::vector<int16_t> channels{0, 1};
  adc->InputChannels(quillbox::BoundedArray<int16_t>::FromVector(channels));
  adc->Rate(10.0f);
  const int32_t wanted = static_cast<int32_t>(adc->Rate());  // one second of frames
  if (!adc->StartRecord()) {
    std::fprintf(stderr, "cannot start: %s\n", adc->LastError().c_str());
    return 1;
  }
  std::vector<int16_t> codes(channels.size() * 64);
  int32_t frames = 0;
  while (frames < wanted) {
    int32_t size = static_cast<int32_t>(codes.size()), unread = 0;
    const int32_t got = adc->GetData(codes[0], size, unread);
    for (int32_t f = 0; f < got && frames < wanted; ++f, ++frames) {
      std::printf("%d", frames);
      for (std::size_t c = 0; c < channels.size(); ++c)
        std::printf(" %.4f %s", codes[f * channels.size() + c] / adc->ChannelUnitScale(channels[c]),
                    adc->ChannelUnitName(channels[c]).c_str());
      std::printf("\n");
    }
    if (got == 0) std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  adc->StopRecord();
  return 0;
} catch (const quillbox::CreateObjectError& e) {
  std::fprintf(stderr, "%s\n", e.what());
  return 1;
}
