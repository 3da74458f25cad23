/* quob32.h - public interface of libquob32: formula compiler, filler and image buffers.
 *
 * Every export returns 0 (as handle, address or flag) for failure and a non-zero value otherwise;
 * nothing throws across the library boundary. Handles, flags, indices, counts and codes are 32-bit
 * integers; addresses, texts and platform handles are pointers. On IA-32 the exports use the
 * system's stdcall convention, on x86-64 the platform's C convention.
 *
 * ELF has no ordinals, so the ordinal table of the exports is part of this header
 * (QUOB_ORDINALS). A client that binds by ordinal looks the name up there and then with dlsym.
 */
#ifndef QUOB32_H
#define QUOB32_H

#include <stddef.h>
#include <stdint.h>

#if defined(__i386__)
#define QUOB_CALL __attribute__((stdcall))
#else
#define QUOB_CALL
#endif

#if defined(QUOB32_BUILDING)
#define QUOB_API __attribute__((visibility("default")))
#else
#define QUOB_API
#endif

#ifdef __cplusplus
extern "C" {
#endif

/* ---- Last error codes ------------------------------------------------------------------- */
enum {
    QUOB_OK = 0,
    QUOB_ERR_NO_EXPRESSION = 1,
    QUOB_ERR_RESERVED_FUNCTION_NAME = 2,
    QUOB_ERR_FUNCTION_NAME_EXPECTED = 3,
    QUOB_ERR_DUPLICATE_FUNCTION = 4,
    QUOB_ERR_RESERVED_VARIABLE_NAME = 5,
    QUOB_ERR_VARIABLE_NAME_EXPECTED = 6,
    QUOB_ERR_TOO_MANY_VARIABLES = 7,
    QUOB_ERR_DUPLICATE_VARIABLE = 8,
    /* Also recorded when the generated code of a body exceeds the code buffer (1024 bytes,
     * 255 address fields) or the integer back end's descriptor stack or spill area. */
    QUOB_ERR_OUT_OF_RESOURCES = 9,
    QUOB_ERR_INVALID_EXPRESSION = 10,
    QUOB_ERR_STACK_OVERFLOW = 11,
    QUOB_ERR_NOT_ENOUGH_PARAMETERS = 12,
    QUOB_ERR_STACK_NOT_EMPTY = 13,
    QUOB_ERR_TOO_MANY_RESULTS = 14,
    QUOB_ERR_RECURSIVE_NO_RESULT = 15,
    QUOB_ERR_RECURSIVE_NO_PARAMETER = 16
};

/* ---- Function record (512 bytes, identical on both targets) ----------------------------- */
enum { QUOB_VALUE_NONE = 0, QUOB_VALUE_INT32 = 1, QUOB_VALUE_EXTENDED = 2 };

#pragma pack(push, 1)
typedef struct QUOB_Descriptor {
    char Name[12];    /* 0: NUL-terminated, at most 8 characters; empty for results */
    int32_t Type;     /* 12: QUOB_VALUE_* */
    uint32_t Address; /* 16: address of the value cell (function blocks lie below 2^31) */
} QUOB_Descriptor;

typedef struct QUOB_FunctionRecord {
    char Name[12];              /* 0 */
    int32_t ParamCount;         /* 12: P, 0..16 */
    int32_t ResultCount;        /* 16: R, 1..8 */
    uint32_t Entry;             /* 20: first byte of the code */
    uint32_t Block;             /* 24: memory block address, 0 while the slot is free */
    uint32_t BlockSize;         /* 28 */
    QUOB_Descriptor Results[8]; /* 32 */
    QUOB_Descriptor Params[16]; /* 192 */
} QUOB_FunctionRecord;
#pragma pack(pop)

/* ---- Filler -------------------------------------------------------------------------------- */
typedef uint32_t (*QUOB_PixelRoutine)(int32_t x, int32_t y);

enum {
    QUOB_FP_VERSION = 0,
    QUOB_FP_PIXEL_ROUTINE = 1,
    QUOB_FP_DESCRIPTION = 2,
    QUOB_FP_WIDTH = 3,
    QUOB_FP_HEIGHT = 4,
    QUOB_FP_FRACTAL_FORMULA = 5,
    QUOB_FP_COLOR_FORMULA = 6,
    QUOB_FP_CENTER_RE = 7,
    QUOB_FP_CENTER_IM = 8,
    QUOB_FP_SCALE = 9,
    QUOB_FP_MAX_MODULE = 10,
    QUOB_FP_DIFFERENTIAL = 11,
    QUOB_FP_ITERATIONS_LIMIT = 12,
    QUOB_FP_RECURSION_INIT = 13,
    QUOB_FP_BLOCK_LENGTH = 14,
    QUOB_FP_ESCAPE_COLOR = 15,
    QUOB_FP_ESCAPE_TAKES_COLOR = 16,
    QUOB_FP_FIELD_COUNT = 17
};

/* A change set names the FillerParams fields to take: one byte per field index, non-zero = take. */
typedef uint8_t QUOB_ChangeSet[QUOB_FP_FIELD_COUNT];

#pragma pack(push, 1)
typedef struct QUOB_FillerParams {
    int32_t Version;                /* must be 1 when creating */
    QUOB_PixelRoutine PixelRoutine; /* output of QUOB_GetFiller */
    const void *Description;        /* the caller's own value, never read by the library */
    int32_t Width;
    int32_t Height;
    const char *FractalFormula; /* parameter list, "=", body (no function name) */
    const char *ColorFormula;
    double CenterRe;
    double CenterIm;
    double Scale;
    float MaxModule;
    float Differential;
    int32_t IterationsLimit;
    int32_t RecursionInit;
    int32_t BlockLength;
    int32_t EscapeColor; /* 0x00RRGGBB */
    int32_t EscapeTakesColor;
} QUOB_FillerParams;
#pragma pack(pop)

/* ---- Image buffers --------------------------------------------------------------------------- */
enum {
    QUOB_MSG_CLEAR = 1,
    QUOB_MSG_THREAD = 2,
    QUOB_MSG_FILL = 4,
    QUOB_MSG_FILL_SMOOTH = 8,
    QUOB_MSG_PREVIEW = 32,
    QUOB_MSG_SUSPEND = 64,
    QUOB_MSG_RESUME = 128,
    QUOB_MSG_STOP = 256,
    QUOB_MSG_FILL_MODE_MASK = 28
};

#pragma pack(push, 1)
typedef struct QUOB_IBufferInfo {
    int32_t Valid; /* always 1 */
    int32_t Width;
    int32_t Height;
    int32_t BytesPerLine; /* 4 * Width */
    void *Bits;           /* bottom row of 0x00RRGGBB pixels */
    int32_t Filler;
    void *DC;     /* the pixel memory again: there is no device context here */
    void *Bitmap; /* likewise */
} QUOB_IBufferInfo;
#pragma pack(pop)

/* ---- Exports ----------------------------------------------------------------------------------
 */
/* errors (family 0) */
QUOB_API int32_t QUOB_CALL QUOB_SetLastError(int32_t code);
QUOB_API int32_t QUOB_CALL QUOB_GetLastError(void);
QUOB_API const char *QUOB_CALL QUOB_GetLastErrorEx(void);
QUOB_API int32_t QUOB_CALL QUOB_ShowLastError(void);

/* image buffers (family 1) */
QUOB_API int32_t QUOB_CALL QUOB_CreateIBuffer(int32_t width, int32_t height);
QUOB_API int32_t QUOB_CALL QUOB_CreateIBufferEx(int32_t width, int32_t height, int32_t filler);
QUOB_API int32_t QUOB_CALL QUOB_DeleteIBuffer(int32_t buffer);
QUOB_API int32_t QUOB_CALL QUOB_GetIBuffer(int32_t buffer, QUOB_IBufferInfo *info);
QUOB_API int32_t QUOB_CALL QUOB_SelectFiller(int32_t buffer, int32_t filler);
QUOB_API int32_t QUOB_CALL QUOB_IBufferMessage(int32_t buffer, int32_t code);
QUOB_API void *QUOB_CALL QUOB_IBufferDC(int32_t buffer);
QUOB_API int32_t QUOB_CALL QUOB_IBufferFilled(int32_t buffer);

/* function objects (family 2) */
QUOB_API int32_t QUOB_CALL CreateIntFunction(const char *definition);
QUOB_API int32_t QUOB_CALL CreateRealFunction(const char *definition);
QUOB_API int32_t QUOB_CALL DeleteFunction(int32_t handle);
QUOB_API void *QUOB_CALL LaunchFunction(int32_t handle);
QUOB_API void *QUOB_CALL AccessResult(int32_t handle, int32_t index);
QUOB_API void *QUOB_CALL AccessParam(int32_t handle, int32_t index);
QUOB_API void *QUOB_CALL AccessParamByName(int32_t handle, const char *name);
QUOB_API int32_t QUOB_CALL GetFunction(int32_t handle, QUOB_FunctionRecord *record);
QUOB_API int32_t QUOB_CALL CreateRecursiveFunction(const char *definition, int32_t blockLength);

/* fillers (family 3) */
QUOB_API int32_t QUOB_CALL QUOB_CreateFiller(const QUOB_FillerParams *params);
QUOB_API int32_t QUOB_CALL QUOB_DeleteFiller(int32_t filler);
QUOB_API int32_t QUOB_CALL QUOB_UpdateFiller(int32_t filler, const QUOB_FillerParams *params,
                                             const uint8_t *changes);
QUOB_API int32_t QUOB_CALL QUOB_GetFiller(int32_t filler, QUOB_FillerParams *params);

/* deep image buffers (family 4): pictures at any depth, computed as differences from reference
 * orbits in arbitrary precision. A deep buffer draws the filler's picture (its formulas and
 * precision fields; the view and the size are the buffer's own) at a view given as decimal texts
 * of any length, as quob-render --deep draws it: the same pixels, bit for bit. Its fill runs in a
 * worker thread of its own (the reference orbit first, then a 10 x 10 preview, then the smoothed
 * fill on every core); the filler must not change while it runs, and any export that changes
 * the filler or starts another fill stops it first. In a build without arbitrary precision every
 * deep buffer is refused with QUOB_ERR_DEEP_UNAVAILABLE. */
enum {
    /* Recorded by QUOB_DeepBufferMessage where the fractal formula has no perturbed form, and
     * by every deep export of a build without deep pictures; the status's Note says why. */
    QUOB_ERR_DEEP_UNAVAILABLE = 4097
};
enum {
    QUOB_DEEP_IDLE = 0,      /* no fill started, or stopped before its preview */
    QUOB_DEEP_REFERENCE = 1, /* the centre's reference orbit, then the preview, being computed */
    QUOB_DEEP_FILLING = 2,   /* the preview is drawn, the smoothed fill under way */
    QUOB_DEEP_FILLED = 3,    /* the picture is finished */
    QUOB_DEEP_STOPPED = 4,   /* stopped after its preview: the pixels are as far as they got */
    QUOB_DEEP_FAILED = 5     /* out of memory or threads: GetLastErrorEx says which */
};
#pragma pack(push, 1)
typedef struct QUOB_DeepStatus {
    int32_t Phase;       /* QUOB_DEEP_IDLE ... QUOB_DEEP_FAILED */
    int32_t References;  /* reference orbits made for the picture so far */
    int32_t Bits;        /* the precision of the reference orbits */
    int32_t Rows;        /* rows of the smoothed picture finished, from the top */
    double OrbitSeconds; /* time spent making the centre's orbit */
    /* Why the last fill could not start or failed (the keyword without a perturbed form, say),
     * NUL-terminated; empty otherwise. */
    char Note[128];
} QUOB_DeepStatus;
#pragma pack(pop)
/* A deep buffer of width x height pixels for the filler's picture; 0 without memory or for a
 * size below 1 x 1. */
QUOB_API int32_t QUOB_CALL QUOB_CreateDeepBuffer(int32_t width, int32_t height, int32_t filler);
QUOB_API int32_t QUOB_CALL QUOB_DeleteDeepBuffer(int32_t buffer);
/* The view of the next fill: centre and scale (the picture's height on the plane) as finite
 * decimal texts. 0, and code QUOB_ERR_INVALID_EXPRESSION, for a text that is no such number or
 * a step between pixels beyond extended precision's normal numbers; the view then stays. */
QUOB_API int32_t QUOB_CALL QUOB_DeepBufferView(int32_t buffer, const char *centerRe,
                                               const char *centerIm, const char *scale);
/* QUOB_MSG_STOP stops the fill (abandoning an orbit under way); QUOB_MSG_PREVIEW +
 * QUOB_MSG_FILL_SMOOTH + QUOB_MSG_THREAD starts a new one. The centre's orbit is kept for the
 * next fill where that fill's pictures stay those of an orbit made anew: the same centre texts,
 * precision, iterations and formulas. 0 for a fill that cannot start (no perturbed form). */
QUOB_API int32_t QUOB_CALL QUOB_DeepBufferMessage(int32_t buffer, int32_t code);
/* The pixels, bottom row first, 0x00RRGGBB, as QUOB_IBufferDC gives them. */
QUOB_API void *QUOB_CALL QUOB_DeepBufferDC(int32_t buffer);
QUOB_API int32_t QUOB_CALL QUOB_DeepBufferFilled(int32_t buffer);
QUOB_API int32_t QUOB_CALL QUOB_DeepBufferStatus(int32_t buffer, QUOB_DeepStatus *status);
/* Whether the fills started from now on skip iterations by the linear approximation of the
 * fractal formula, within its tolerance (on: 1, the default; 0: every iteration, the pictures
 * exactly those of quob-render --no-approximation; -1 leaves it as it is). Returns 1 where the
 * fill started last skips (the setting was on and the formula has an approximation), else 0. */
QUOB_API int32_t QUOB_CALL QUOB_DeepBufferApproximation(int32_t buffer, int32_t on);

/* ---- Ordinals: family number x 256 + member number --------------------------------------------
 */
typedef struct QUOB_Ordinal {
    int32_t Ordinal;
    const char *Name;
} QUOB_Ordinal;

#define QUOB_EXPORT_COUNT 25
static const QUOB_Ordinal QUOB_ORDINALS[QUOB_EXPORT_COUNT] = {
    {1, "QUOB_SetLastError"},     {2, "QUOB_GetLastError"},    {3, "QUOB_GetLastErrorEx"},
    {4, "QUOB_ShowLastError"},    {257, "QUOB_CreateIBuffer"}, {258, "QUOB_CreateIBufferEx"},
    {259, "QUOB_DeleteIBuffer"},  {260, "QUOB_GetIBuffer"},    {261, "QUOB_SelectFiller"},
    {262, "QUOB_IBufferMessage"}, {263, "QUOB_IBufferDC"},     {264, "QUOB_IBufferFilled"},
    {513, "CreateIntFunction"},   {514, "CreateRealFunction"}, {515, "DeleteFunction"},
    {516, "LaunchFunction"},      {517, "AccessResult"},       {518, "AccessParam"},
    {519, "AccessParamByName"},   {520, "GetFunction"},        {521, "CreateRecursiveFunction"},
    {769, "QUOB_CreateFiller"},   {770, "QUOB_DeleteFiller"},  {771, "QUOB_UpdateFiller"},
    {772, "QUOB_GetFiller"},
};

/* The deep image buffers' family, a table of its own beside the 25 exports above: no symbol is
 * exported beyond the two tables. */
#define QUOB_DEEP_EXPORT_COUNT 8
static const QUOB_Ordinal QUOB_DEEP_ORDINALS[QUOB_DEEP_EXPORT_COUNT] = {
    {1025, "QUOB_CreateDeepBuffer"}, {1026, "QUOB_DeleteDeepBuffer"},
    {1027, "QUOB_DeepBufferView"},   {1028, "QUOB_DeepBufferMessage"},
    {1029, "QUOB_DeepBufferDC"},     {1030, "QUOB_DeepBufferFilled"},
    {1031, "QUOB_DeepBufferStatus"}, {1032, "QUOB_DeepBufferApproximation"},
};

/* The host may define this (exported from the executable) to show the library's message boxes:
 * the load banner, QUOB_ShowLastError. style uses 16 (stop icon) and 64 (information icon);
 * caption NULL means the host's default caption. Returns the identifier of the button (1 = OK).
 * Without it the library writes caption and text to standard error and returns 1. */
int QUOB_HostMessageBox(const char *text, const char *caption, unsigned style);

#ifdef __cplusplus
} /* extern "C" */
#endif

/* ---- Record layouts ----------------------------------------------------------------------------
 */
#ifdef __cplusplus
#define QUOB_STATIC_ASSERT static_assert
#else
#define QUOB_STATIC_ASSERT _Static_assert
#endif

QUOB_STATIC_ASSERT(sizeof(QUOB_Descriptor) == 20, "descriptor size");
QUOB_STATIC_ASSERT(offsetof(QUOB_Descriptor, Type) == 12, "descriptor Type");
QUOB_STATIC_ASSERT(offsetof(QUOB_Descriptor, Address) == 16, "descriptor Address");
QUOB_STATIC_ASSERT(sizeof(QUOB_FunctionRecord) == 512, "function record size");
QUOB_STATIC_ASSERT(offsetof(QUOB_FunctionRecord, ParamCount) == 12, "record P");
QUOB_STATIC_ASSERT(offsetof(QUOB_FunctionRecord, ResultCount) == 16, "record R");
QUOB_STATIC_ASSERT(offsetof(QUOB_FunctionRecord, Entry) == 20, "record entry");
QUOB_STATIC_ASSERT(offsetof(QUOB_FunctionRecord, Block) == 24, "record block");
QUOB_STATIC_ASSERT(offsetof(QUOB_FunctionRecord, BlockSize) == 28, "record block size");
QUOB_STATIC_ASSERT(offsetof(QUOB_FunctionRecord, Results) == 32, "record results");
QUOB_STATIC_ASSERT(offsetof(QUOB_FunctionRecord, Params) == 192, "record params");
QUOB_STATIC_ASSERT(sizeof(QUOB_ChangeSet) == 17, "change set size");
QUOB_STATIC_ASSERT(sizeof(QUOB_DeepStatus) == 152, "deep status size");

#if defined(__x86_64__)
QUOB_STATIC_ASSERT(sizeof(QUOB_FillerParams) == 96, "FillerParams size");
QUOB_STATIC_ASSERT(offsetof(QUOB_FillerParams, PixelRoutine) == 4, "PixelRoutine");
QUOB_STATIC_ASSERT(offsetof(QUOB_FillerParams, Description) == 12, "Description");
QUOB_STATIC_ASSERT(offsetof(QUOB_FillerParams, Width) == 20, "Width");
QUOB_STATIC_ASSERT(offsetof(QUOB_FillerParams, Height) == 24, "Height");
QUOB_STATIC_ASSERT(offsetof(QUOB_FillerParams, FractalFormula) == 28, "FractalFormula");
QUOB_STATIC_ASSERT(offsetof(QUOB_FillerParams, ColorFormula) == 36, "ColorFormula");
QUOB_STATIC_ASSERT(offsetof(QUOB_FillerParams, CenterRe) == 44, "CenterRe");
QUOB_STATIC_ASSERT(offsetof(QUOB_FillerParams, CenterIm) == 52, "CenterIm");
QUOB_STATIC_ASSERT(offsetof(QUOB_FillerParams, Scale) == 60, "Scale");
QUOB_STATIC_ASSERT(offsetof(QUOB_FillerParams, MaxModule) == 68, "MaxModule");
QUOB_STATIC_ASSERT(offsetof(QUOB_FillerParams, Differential) == 72, "Differential");
QUOB_STATIC_ASSERT(offsetof(QUOB_FillerParams, IterationsLimit) == 76, "IterationsLimit");
QUOB_STATIC_ASSERT(offsetof(QUOB_FillerParams, RecursionInit) == 80, "RecursionInit");
QUOB_STATIC_ASSERT(offsetof(QUOB_FillerParams, BlockLength) == 84, "BlockLength");
QUOB_STATIC_ASSERT(offsetof(QUOB_FillerParams, EscapeColor) == 88, "EscapeColor");
QUOB_STATIC_ASSERT(offsetof(QUOB_FillerParams, EscapeTakesColor) == 92, "EscapeTakesColor");
QUOB_STATIC_ASSERT(sizeof(QUOB_IBufferInfo) == 44, "IBufferInfo size");
QUOB_STATIC_ASSERT(offsetof(QUOB_IBufferInfo, Bits) == 16, "IBufferInfo Bits");
QUOB_STATIC_ASSERT(offsetof(QUOB_IBufferInfo, Filler) == 24, "IBufferInfo Filler");
QUOB_STATIC_ASSERT(offsetof(QUOB_IBufferInfo, DC) == 28, "IBufferInfo DC");
QUOB_STATIC_ASSERT(offsetof(QUOB_IBufferInfo, Bitmap) == 36, "IBufferInfo Bitmap");
#elif defined(__i386__)
QUOB_STATIC_ASSERT(sizeof(QUOB_FillerParams) == 80, "FillerParams size");
QUOB_STATIC_ASSERT(offsetof(QUOB_FillerParams, PixelRoutine) == 4, "PixelRoutine");
QUOB_STATIC_ASSERT(offsetof(QUOB_FillerParams, Description) == 8, "Description");
QUOB_STATIC_ASSERT(offsetof(QUOB_FillerParams, Width) == 12, "Width");
QUOB_STATIC_ASSERT(offsetof(QUOB_FillerParams, Height) == 16, "Height");
QUOB_STATIC_ASSERT(offsetof(QUOB_FillerParams, FractalFormula) == 20, "FractalFormula");
QUOB_STATIC_ASSERT(offsetof(QUOB_FillerParams, ColorFormula) == 24, "ColorFormula");
QUOB_STATIC_ASSERT(offsetof(QUOB_FillerParams, CenterRe) == 28, "CenterRe");
QUOB_STATIC_ASSERT(offsetof(QUOB_FillerParams, CenterIm) == 36, "CenterIm");
QUOB_STATIC_ASSERT(offsetof(QUOB_FillerParams, Scale) == 44, "Scale");
QUOB_STATIC_ASSERT(offsetof(QUOB_FillerParams, MaxModule) == 52, "MaxModule");
QUOB_STATIC_ASSERT(offsetof(QUOB_FillerParams, Differential) == 56, "Differential");
QUOB_STATIC_ASSERT(offsetof(QUOB_FillerParams, IterationsLimit) == 60, "IterationsLimit");
QUOB_STATIC_ASSERT(offsetof(QUOB_FillerParams, RecursionInit) == 64, "RecursionInit");
QUOB_STATIC_ASSERT(offsetof(QUOB_FillerParams, BlockLength) == 68, "BlockLength");
QUOB_STATIC_ASSERT(offsetof(QUOB_FillerParams, EscapeColor) == 72, "EscapeColor");
QUOB_STATIC_ASSERT(offsetof(QUOB_FillerParams, EscapeTakesColor) == 76, "EscapeTakesColor");
QUOB_STATIC_ASSERT(sizeof(QUOB_IBufferInfo) == 32, "IBufferInfo size");
QUOB_STATIC_ASSERT(offsetof(QUOB_IBufferInfo, Bits) == 16, "IBufferInfo Bits");
QUOB_STATIC_ASSERT(offsetof(QUOB_IBufferInfo, Filler) == 20, "IBufferInfo Filler");
QUOB_STATIC_ASSERT(offsetof(QUOB_IBufferInfo, DC) == 24, "IBufferInfo DC");
QUOB_STATIC_ASSERT(offsetof(QUOB_IBufferInfo, Bitmap) == 28, "IBufferInfo Bitmap");
#else
#error "libquob32 runs on x86 (IA-32 or x86-64) only"
#endif

#endif /* QUOB32_H */
