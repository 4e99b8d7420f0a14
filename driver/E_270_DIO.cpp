// IDIO members: the digital lines and the output values applied at start and stop.

#include "device/DigitalIO.h"
#include "driver/DriverState.h"
#include "driver/E_270.h"

namespace quillbox {

std::string E_270::IDIO_DIOName() { return State().Adc.ADCName; }
bool E_270::IDIO_Detected() { return State().Dio.DIODetected; }
uint8_t E_270::IDIO_DIBits() { return State().Dio.DIBits; }
uint8_t E_270::IDIO_DOBits() { return State().Dio.DOBits; }
int32_t E_270::IDIO_DIValue() { return ReadInputs(State(), State().Dio); }
int32_t E_270::IDIO_DOValue() { return ReadOutputs(State().Dio); }
void E_270::IDIO_DOValue(int32_t lValue) { WriteOutputs(State(), State().Dio, lValue); }
bool E_270::IDIO_DOStartEnabled() { return State().Dio.DOStartEnabled; }
void E_270::IDIO_DOStartEnabled(bool fTurn) { State().Dio.DOStartEnabled = fTurn; }
int32_t E_270::IDIO_DOStartValue() { return State().Dio.DOStartValue; }
void E_270::IDIO_DOStartValue(int32_t lValue) { State().Dio.DOStartValue = lValue; }
bool E_270::IDIO_DOStopEnabled() { return State().Dio.DOStopEnabled; }
void E_270::IDIO_DOStopEnabled(bool fTurn) { State().Dio.DOStopEnabled = fTurn; }
int32_t E_270::IDIO_DOStopValue() { return State().Dio.DOStopValue; }
void E_270::IDIO_DOStopValue(int32_t lValue) { State().Dio.DOStopValue = lValue; }

}  // namespace quillbox
