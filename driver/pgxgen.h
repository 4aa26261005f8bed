#pragma once
/*
 * pgxgen: the instrument driver of the PGX family of programmable pulse and pattern generators.
 *
 * Every function takes the driver session first (pgxgen_init excepted) and returns a ViStatus:
 * 0 success, positive a warning, negative an error. VISA statuses are passed through unchanged.
 * Texts are narrow, NUL-terminated strings. Functions ending in _Q return their values through
 * out-parameters; an out-parameter is written only when the function succeeds (returns 0 or a warning),
 * and a file only when the function succeeds. The one exception is pgxgen_init, which sets *vi to 0 on
 * every failure. A buffer receives at most its size of text, cut and always terminated; buffers
 * documented as [256] must hold at least 256 characters.
 *
 * docs/driver.md lists every function with the SCPI it sends and the statuses it returns.
 */

#include "visa/visa.h"

#ifdef __cplusplus
extern "C" {
#endif

#if defined(__GNUC__)
#define PGXGEN_API __attribute__((visibility("default")))
#else
#define PGXGEN_API
#endif

/* ---- Statuses -------------------------------------------------------------------------------------- */

/* Parameter n (1-based, the session is parameter 1) is invalid: a NULL pointer, an enumeration out of
 * range, a buffer too small, a number that is not finite. */
#define PGXGEN_ERROR_PARAMETER1 ((ViStatus)0xBFFC0001L)
#define PGXGEN_ERROR_PARAMETER2 ((ViStatus)0xBFFC0002L)
#define PGXGEN_ERROR_PARAMETER3 ((ViStatus)0xBFFC0003L)
#define PGXGEN_ERROR_PARAMETER4 ((ViStatus)0xBFFC0004L)
#define PGXGEN_ERROR_PARAMETER5 ((ViStatus)0xBFFC0005L)
#define PGXGEN_ERROR_PARAMETER6 ((ViStatus)0xBFFC0006L)
#define PGXGEN_ERROR_PARAMETER7 ((ViStatus)0xBFFC0007L)
#define PGXGEN_ERROR_PARAMETER8 ((ViStatus)0xBFFC0008L)
/* The instrument did not identify itself as a member of the family. */
#define PGXGEN_ERROR_FAIL_ID_QUERY ((ViStatus)0xBFFC0011L)
/* The instrument's answer cannot be read as the expected type. */
#define PGXGEN_ERROR_INVALID_RESPONSE ((ViStatus)0xBFFC0012L)

/* The instrument reported an error; pgxgen_error_query hands out its entries. */
#define PGXGEN_ERROR_INSTRUMENT ((ViStatus)0xBFFC0D07L)
/* pgxgen_transactionStart while a transaction is active (nothing changes). */
#define PGXGEN_ERROR_TRANSACTION_ACTIVE ((ViStatus)0xBFFC0D08L)
/* A pattern or setting file cannot be read or written. */
#define PGXGEN_ERROR_FILE_IO ((ViStatus)0xBFFC0D09L)
/* A pattern or setting file does not hold what the function expects. */
#define PGXGEN_ERROR_FILE_FORMAT ((ViStatus)0xBFFC0D0AL)

/* Value checks against the connected instrument. */
#define PGXGEN_ERROR_CHANNEL ((ViStatus)0xBFFC0D20L)        /* channel not installed */
#define PGXGEN_ERROR_NOT_SUPPORTED ((ViStatus)0xBFFC0D21L)  /* the front-end lacks the function */
#define PGXGEN_ERROR_NOT_VXI ((ViStatus)0xBFFC0D22L)        /* VXI trigger lines on a benchtop instrument */
#define PGXGEN_ERROR_BURST_COUNT ((ViStatus)0xBFFC0D23L)    /* burst length outside 2 .. 65536 */
#define PGXGEN_ERROR_PATTERN_LENGTH ((ViStatus)0xBFFC0D24L) /* pattern length outside 1 .. 16384 */
#define PGXGEN_ERROR_PATTERN_DATA ((ViStatus)0xBFFC0D25L)   /* a pattern position that is not 0 or 1 */
#define PGXGEN_ERROR_MEMORY_NUMBER ((ViStatus)0xBFFC0D26L)  /* setting memory outside 0 .. 9 */
#define PGXGEN_ERROR_PRBS_EXPONENT ((ViStatus)0xBFFC0D27L)  /* PRBS polynomial exponent outside 7 .. 14 */
#define PGXGEN_ERROR_PLL_FREQUENCY ((ViStatus)0xBFFC0D29L)  /* reference or arming value not positive */

/* Warnings (the operation itself succeeded). */
#define PGXGEN_WARN_NSUP_ID_QUERY ((ViStatus)0x3FFC0101L)
#define PGXGEN_WARN_NSUP_RESET ((ViStatus)0x3FFC0102L)
#define PGXGEN_WARN_NSUP_SELF_TEST ((ViStatus)0x3FFC0103L)
#define PGXGEN_WARN_NSUP_ERROR_QUERY ((ViStatus)0x3FFC0104L)
#define PGXGEN_WARN_NSUP_REV_QUERY ((ViStatus)0x3FFC0105L)
/* pgxgen_transactionFinish or pgxgen_transactionCancel without an active transaction. */
#define PGXGEN_WARN_NO_TRANSACTION ((ViStatus)0x3FFC0D0BL)

/* ---- Enumerations (16-bit values) -------------------------------------------------------------------- */

#define PGXGEN_LEVEL_VOLTAGE 0 /* levels held in volts */
#define PGXGEN_LEVEL_CURRENT 1 /* levels held in amperes */

#define PGXGEN_POLARITY_NORMAL 0
#define PGXGEN_POLARITY_INVERTED 1

#define PGXGEN_FORMAT_NRZ 0
#define PGXGEN_FORMAT_RZ 1

#define PGXGEN_MATH_OFF 0
#define PGXGEN_MATH_PLUS 1

#define PGXGEN_HOLD_WIDTH 0
#define PGXGEN_HOLD_DUTY_CYCLE 1
#define PGXGEN_HOLD_TRAILING_DELAY 2

#define PGXGEN_PULSE_SINGLE 1
#define PGXGEN_PULSE_DOUBLE 2

#define PGXGEN_UNIT_SECONDS 0
#define PGXGEN_UNIT_PERCENT 1
#define PGXGEN_UNIT_DEGREES 2
#define PGXGEN_UNIT_RADIANS 3

#define PGXGEN_HOLD_ABSOLUTE 1
#define PGXGEN_HOLD_RATIO 2

#define PGXGEN_COUPLING_OFF 0
#define PGXGEN_COUPLING_ON 1
#define PGXGEN_COUPLING_ONCE 2

#define PGXGEN_PERIOD_INTERNAL_OSC 0
#define PGXGEN_PERIOD_INTERNAL_PLL 1
#define PGXGEN_PERIOD_CLOCK_INPUT 2

#define PGXGEN_SLOPE_NEGATIVE 0
#define PGXGEN_SLOPE_POSITIVE 1
#define PGXGEN_SLOPE_EITHER 2 /* arming only */
#define PGXGEN_SLOPE_AS_IS 3  /* leave the setting as it is */

#define PGXGEN_ARM_IMMEDIATE 0
#define PGXGEN_ARM_INTERNAL_PLL 1
#define PGXGEN_ARM_EXTERNAL 3
#define PGXGEN_ARM_MANUAL 4
#define PGXGEN_ARM_ECLT0 5
#define PGXGEN_ARM_ECLT1 6
#define PGXGEN_ARM_TTLT0 7 /* TTLT0 .. TTLT7 are 7 .. 14 */
#define PGXGEN_ARM_TTLT7 14

#define PGXGEN_PLL_PERIOD 0
#define PGXGEN_PLL_FREQUENCY 1
#define PGXGEN_PLL_AS_IS 3

#define PGXGEN_TRGOUT_IMMEDIATE 0 /* trigger output connectors for the levels */
#define PGXGEN_TRGOUT_TRIGGER 1
#define PGXGEN_TRGOUT_STROBE 2

#define PGXGEN_TRGLEV_TTL 0
#define PGXGEN_TRGLEV_ECL 1
#define PGXGEN_TRGLEV_STA 2

#define PGXGEN_VXI_SOURCE_TRIGGER 1
#define PGXGEN_VXI_SOURCE_STROBE 2
#define PGXGEN_VXI_SOURCE_SAME_AS_STROBE 3

#define PGXGEN_VXI_LINE_ECLT0 5
#define PGXGEN_VXI_LINE_ECLT1 6
#define PGXGEN_VXI_LINE_TTLT0 7 /* TTLT0 .. TTLT7 are 7 .. 14 */
#define PGXGEN_VXI_LINE_TTLT7 14
#define PGXGEN_VXI_LINE_NONE 15

#define PGXGEN_DATA_ALL 0
#define PGXGEN_DATA_CHANNEL1 1
#define PGXGEN_DATA_CHANNEL2 2
#define PGXGEN_DATA_STROBE 3

#define PGXGEN_UPDATE_OFF 0
#define PGXGEN_UPDATE_ONCE 1
#define PGXGEN_UPDATE_CONTINUOUS 2

#define PGXGEN_PLLREF_CLOCK_IN 0
#define PGXGEN_PLLREF_INTERNAL1 1
#define PGXGEN_PLLREF_INTERNAL2 2

/* ---- Sessions ---------------------------------------------------------------------------------------- */

PGXGEN_API ViStatus pgxgen_init(ViConstString resourceName, ViBoolean idQuery, ViBoolean reset,
                                ViSession* vi);
PGXGEN_API ViStatus pgxgen_close(ViSession vi);
PGXGEN_API ViStatus pgxgen_reset(ViSession vi);
PGXGEN_API ViStatus pgxgen_dcl(ViSession vi);
PGXGEN_API ViStatus pgxgen_self_test(ViSession vi, ViInt16* result, ViChar message[]);
PGXGEN_API ViStatus pgxgen_revision_query(ViSession vi, ViChar driverRevision[], ViChar instrumentRevision[]);
PGXGEN_API ViStatus pgxgen_timeOut(ViSession vi, ViInt32 milliseconds);
PGXGEN_API ViStatus pgxgen_timeOut_Q(ViSession vi, ViInt32* milliseconds);
PGXGEN_API ViStatus pgxgen_opc_Q(ViSession vi, ViBoolean* complete);

/* ---- Errors ------------------------------------------------------------------------------------------ */

PGXGEN_API ViStatus pgxgen_error_message(ViSession vi, ViStatus status, ViChar message[]);
PGXGEN_API ViStatus pgxgen_error_query(ViSession vi, ViInt32* code, ViChar message[]);
PGXGEN_API ViStatus pgxgen_errorQueryDetect(ViSession vi, ViBoolean on);
PGXGEN_API ViStatus pgxgen_errorQueryDetect_Q(ViSession vi, ViBoolean* on);

/* ---- Transactions ------------------------------------------------------------------------------------ */

PGXGEN_API ViStatus pgxgen_transactionStart(ViSession vi);
PGXGEN_API ViStatus pgxgen_transactionFinish(ViSession vi);
PGXGEN_API ViStatus pgxgen_transactionCancel(ViSession vi);
PGXGEN_API ViStatus pgxgen_transaction_Q(ViSession vi, ViBoolean* active, ViInt32* byteCount);

/* ---- Raw commands ------------------------------------------------------------------------------------ */

PGXGEN_API ViStatus pgxgen_cmd(ViSession vi, ViConstString command);
PGXGEN_API ViStatus pgxgen_cmdInt(ViSession vi, ViConstString header, ViInt32 value);
PGXGEN_API ViStatus pgxgen_cmdUInt(ViSession vi, ViConstString header, ViUInt32 value);
PGXGEN_API ViStatus pgxgen_cmdReal(ViSession vi, ViConstString header, ViReal64 value);
PGXGEN_API ViStatus pgxgen_cmdString(ViSession vi, ViConstString header, ViConstString value);
PGXGEN_API ViStatus pgxgen_cmdInt8Arr(ViSession vi, ViConstString header, const ViInt8 data[], ViInt32 count);
PGXGEN_API ViStatus pgxgen_cmdInt16_Q(ViSession vi, ViConstString query, ViInt16* value);
PGXGEN_API ViStatus pgxgen_cmdInt32_Q(ViSession vi, ViConstString query, ViInt32* value);
PGXGEN_API ViStatus pgxgen_cmdUInt16_Q(ViSession vi, ViConstString query, ViUInt16* value);
PGXGEN_API ViStatus pgxgen_cmdUInt32_Q(ViSession vi, ViConstString query, ViUInt32* value);
PGXGEN_API ViStatus pgxgen_cmdReal64_Q(ViSession vi, ViConstString query, ViReal64* value);
PGXGEN_API ViStatus pgxgen_cmdString_Q(ViSession vi, ViConstString query, ViInt32 size, ViChar buffer[]);
PGXGEN_API ViStatus pgxgen_cmdInt8Arr_Q(ViSession vi, ViConstString query, ViInt32 size, ViInt8 buffer[],
                                        ViInt32* count);

/* ---- Levels, limits and outputs (channel 1 or 2) ----------------------------------------------------- */

PGXGEN_API ViStatus pgxgen_levelHighLow(ViSession vi, ViInt16 channel, ViInt16 levelType, ViReal64 high,
                                        ViReal64 low);
PGXGEN_API ViStatus pgxgen_levelHighLow_Q(ViSession vi, ViInt16 channel, ViInt16* levelType, ViReal64* high,
                                          ViReal64* low);
PGXGEN_API ViStatus pgxgen_levelOffsetAmplitude(ViSession vi, ViInt16 channel, ViInt16 levelType,
                                                ViReal64 offset, ViReal64 amplitude);
PGXGEN_API ViStatus pgxgen_levelOffsetAmplitude_Q(ViSession vi, ViInt16 channel, ViInt16* levelType,
                                                  ViReal64* offset, ViReal64* amplitude);
PGXGEN_API ViStatus pgxgen_limitState(ViSession vi, ViInt16 channel, ViBoolean on);
PGXGEN_API ViStatus pgxgen_limitState_Q(ViSession vi, ViInt16 channel, ViBoolean* on);
PGXGEN_API ViStatus pgxgen_outputStateNormal(ViSession vi, ViInt16 channel, ViBoolean on);
PGXGEN_API ViStatus pgxgen_outputStateNormal_Q(ViSession vi, ViInt16 channel, ViBoolean* on);
PGXGEN_API ViStatus pgxgen_outputStateComplement(ViSession vi, ViInt16 channel, ViBoolean on);
PGXGEN_API ViStatus pgxgen_outputStateComplement_Q(ViSession vi, ViInt16 channel, ViBoolean* on);
PGXGEN_API ViStatus pgxgen_outputPolarity(ViSession vi, ViInt16 channel, ViInt16 polarity);
PGXGEN_API ViStatus pgxgen_outputPolarity_Q(ViSession vi, ViInt16 channel, ViInt16* polarity);
PGXGEN_API ViStatus pgxgen_configOutputImpedance(ViSession vi, ViInt16 channel, ViReal64 ohms);
PGXGEN_API ViStatus pgxgen_configOutputImpedance_Q(ViSession vi, ViInt16 channel, ViReal64* ohms);
PGXGEN_API ViStatus pgxgen_configOutputLoadCompensation(ViSession vi, ViInt16 channel, ViReal64 ohms);
PGXGEN_API ViStatus pgxgen_configOutputLoadCompensation_Q(ViSession vi, ViInt16 channel, ViReal64* ohms);
PGXGEN_API ViStatus pgxgen_outputMath_Q(ViSession vi, ViInt16* math);
PGXGEN_API ViStatus pgxgen_modePatternDataFormat(ViSession vi, ViInt16 channel, ViInt16 format);
PGXGEN_API ViStatus pgxgen_modePatternDataFormat_Q(ViSession vi, ViInt16 channel, ViInt16* format);

/* ---- Timing (channel 1 or 2) ------------------------------------------------------------------------- */

PGXGEN_API ViStatus pgxgen_timeWidth(ViSession vi, ViInt16 channel, ViReal64 seconds);
PGXGEN_API ViStatus pgxgen_timeWidth_Q(ViSession vi, ViInt16 channel, ViReal64* seconds);
PGXGEN_API ViStatus pgxgen_timeWidthDutyCycle(ViSession vi, ViInt16 channel, ViReal64 percent);
PGXGEN_API ViStatus pgxgen_timeWidthDutyCycle_Q(ViSession vi, ViInt16 channel, ViReal64* percent);
PGXGEN_API ViStatus pgxgen_timeWidthTrailingDelay(ViSession vi, ViInt16 channel, ViReal64 seconds);
PGXGEN_API ViStatus pgxgen_timeWidthTrailingDelay_Q(ViSession vi, ViInt16 channel, ViReal64* seconds);
PGXGEN_API ViStatus pgxgen_timeWidthHold(ViSession vi, ViInt16 channel, ViInt16 hold);
PGXGEN_API ViStatus pgxgen_timeWidthHold_Q(ViSession vi, ViInt16 channel, ViInt16* hold);
PGXGEN_API ViStatus pgxgen_modePulseType(ViSession vi, ViInt16 channel, ViInt16 pulseType);
PGXGEN_API ViStatus pgxgen_modePulseType_Q(ViSession vi, ViInt16 channel, ViInt16* pulseType);
PGXGEN_API ViStatus pgxgen_timeDelay(ViSession vi, ViInt16 channel, ViInt16 unit, ViReal64 value);
PGXGEN_API ViStatus pgxgen_timeDelay_Q(ViSession vi, ViInt16 channel, ViInt16* unit, ViReal64* value);
PGXGEN_API ViStatus pgxgen_timeDelayHold(ViSession vi, ViInt16 channel, ViInt16 hold);
PGXGEN_API ViStatus pgxgen_timeDelayHold_Q(ViSession vi, ViInt16 channel, ViInt16* hold);
PGXGEN_API ViStatus pgxgen_timeDelayDouble(ViSession vi, ViInt16 channel, ViInt16 unit, ViReal64 value);
PGXGEN_API ViStatus pgxgen_timeDelayDouble_Q(ViSession vi, ViInt16 channel, ViInt16* unit, ViReal64* value);
PGXGEN_API ViStatus pgxgen_timeDelayDoubleHold(ViSession vi, ViInt16 channel, ViInt16 hold);
PGXGEN_API ViStatus pgxgen_timeDelayDoubleHold_Q(ViSession vi, ViInt16 channel, ViInt16* hold);
PGXGEN_API ViStatus pgxgen_timeEdgeLeading(ViSession vi, ViInt16 channel, ViInt16 unit, ViReal64 value);
PGXGEN_API ViStatus pgxgen_timeEdgeLeading_Q(ViSession vi, ViInt16 channel, ViInt16* unit, ViReal64* value);
PGXGEN_API ViStatus pgxgen_timeEdgeTrailing(ViSession vi, ViInt16 channel, ViInt16 unit, ViReal64 value);
PGXGEN_API ViStatus pgxgen_timeEdgeTrailing_Q(ViSession vi, ViInt16 channel, ViInt16* unit, ViReal64* value);
PGXGEN_API ViStatus pgxgen_timeEdgeTrailingCoupling(ViSession vi, ViInt16 channel, ViInt16 coupling);
PGXGEN_API ViStatus pgxgen_timeEdgeTrailingCoupling_Q(ViSession vi, ViInt16 channel, ViInt16* coupling);
PGXGEN_API ViStatus pgxgen_timeEdgeHold(ViSession vi, ViInt16 channel, ViInt16 hold);
PGXGEN_API ViStatus pgxgen_timeEdgeHold_Q(ViSession vi, ViInt16 channel, ViInt16* hold);
PGXGEN_API ViStatus pgxgen_timeCalibration(ViSession vi);
PGXGEN_API ViStatus pgxgen_timeFrequencyMeasure(ViSession vi);
PGXGEN_API ViStatus pgxgen_timePeriodMeasure(ViSession vi);

/* ---- Modes: each sets the whole trigger, arming and pattern state of its mode ------------------------ */

PGXGEN_API ViStatus pgxgen_modeContinuousPulses(ViSession vi, ViInt16 periodSource, ViInt16 triggerSlope);
PGXGEN_API ViStatus pgxgen_modeContinuousBurst(ViSession vi, ViInt32 burstLength, ViInt16 periodSource,
                                               ViInt16 triggerSlope);
PGXGEN_API ViStatus pgxgen_modeContinuousPattern(ViSession vi, ViInt16 periodSource, ViInt16 triggerSlope);
PGXGEN_API ViStatus pgxgen_modeGatedPulses(ViSession vi, ViInt16 periodSource, ViInt16 triggerSlope,
                                           ViInt16 armSource, ViInt16 gateLevel);
PGXGEN_API ViStatus pgxgen_modeGatedBurst(ViSession vi, ViInt32 burstLength, ViInt16 periodSource,
                                          ViInt16 triggerSlope, ViInt16 armSource, ViInt16 gateLevel);
PGXGEN_API ViStatus pgxgen_modeGatedPattern(ViSession vi, ViInt16 periodSource, ViInt16 triggerSlope,
                                            ViInt16 armSource, ViInt16 gateLevel);
PGXGEN_API ViStatus pgxgen_modeTriggeredPulses(ViSession vi, ViInt16 armSource, ViInt16 armSlope);
PGXGEN_API ViStatus pgxgen_modeTriggeredBurst(ViSession vi, ViInt32 burstLength, ViInt16 periodSource,
                                              ViInt16 triggerSlope, ViInt16 armSource, ViInt16 armSlope,
                                              ViInt16 pllFormat, ViReal64 pllValue);
PGXGEN_API ViStatus pgxgen_modeTriggeredPattern(ViSession vi, ViInt16 periodSource, ViInt16 triggerSlope,
                                                ViInt16 armSource, ViInt16 armSlope, ViInt16 pllFormat,
                                                ViReal64 pllValue);

/* ---- Trigger output, VXI trigger lines, PLL reference ------------------------------------------------ */

PGXGEN_API ViStatus pgxgen_configTriggerOutLevel(ViSession vi, ViInt16 output, ViInt16 level);
PGXGEN_API ViStatus pgxgen_configTriggerOutLevel_Q(ViSession vi, ViInt16 output, ViInt16* level);
PGXGEN_API ViStatus pgxgen_configTriggerOutSource_Q(ViSession vi, ViInt16* source);
PGXGEN_API ViStatus pgxgen_outputSourceVxiTrigger(ViSession vi, ViInt16 source);
PGXGEN_API ViStatus pgxgen_outputSourceVxiTrigger_Q(ViSession vi, ViInt16* source);
PGXGEN_API ViStatus pgxgen_outputEnableVxiTrigger(ViSession vi, ViInt16 line);
PGXGEN_API ViStatus pgxgen_outputEnableVxiTrigger_Q(ViSession vi, ViInt16* line);
PGXGEN_API ViStatus pgxgen_configPllReference(ViSession vi, ViInt16 source, ViReal64 externalFrequency);
PGXGEN_API ViStatus pgxgen_configPllReference_Q(ViSession vi, ViInt16* source, ViReal64* externalFrequency);

/* ---- Pattern data ------------------------------------------------------------------------------------ */

/* One pattern position per byte: 0/1 or the characters '0'/'1'. */
PGXGEN_API ViStatus pgxgen_patternDataDownloadBuffer(ViSession vi, ViInt16 dataChannel, const ViByte data[],
                                                     ViInt32 count);
/* Reads at most capacity positions into buffer, as characters '0'/'1' when ascii is 1, else as 0/1. */
PGXGEN_API ViStatus pgxgen_patternDataDownloadBuffer_Q(ViSession vi, ViInt16 dataChannel, ViByte buffer[],
                                                       ViInt32* count, ViInt32 capacity, ViBoolean ascii);
PGXGEN_API ViStatus pgxgen_patternDataDownloadFile(ViSession vi, ViInt16 dataChannel, ViConstString fileName);
PGXGEN_API ViStatus pgxgen_patternDataDownloadFile_Q(ViSession vi, ViInt16 dataChannel, ViBoolean ascii,
                                                     ViConstString fileName);
PGXGEN_API ViStatus pgxgen_patternDataPRBS(ViSession vi, ViInt16 dataChannel, ViInt16 exponent,
                                           ViInt32 length);
PGXGEN_API ViStatus pgxgen_patternDataPreset(ViSession vi, ViInt16 dataChannel, ViInt32 divider,
                                             ViInt32 length);
PGXGEN_API ViStatus pgxgen_patternUpdate(ViSession vi, ViInt16 mode);
PGXGEN_API ViStatus pgxgen_patternUpdate_Q(ViSession vi, ViInt16* mode);

/* ---- Settings ---------------------------------------------------------------------------------------- */

PGXGEN_API ViStatus pgxgen_settingStore(ViSession vi, ViInt16 memory);
PGXGEN_API ViStatus pgxgen_settingRecall(ViSession vi, ViInt16 memory);
/* Pattern and setting files are regular files of at most 1 MiB; relative names are taken from the current
 * directory. A file is written only when the call succeeds. */

/* Loads the setting held in the file (its learn string) into the instrument. */
PGXGEN_API ViStatus pgxgen_settingFile(ViSession vi, ViConstString fileName);
/* Stores the instrument's current setting (its learn string) in the file. */
PGXGEN_API ViStatus pgxgen_settingFile_Q(ViSession vi, ViConstString fileName);

#ifdef __cplusplus
}
#endif
