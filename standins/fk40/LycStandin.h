// The stand-in camera library's knobs, read from the environment at every LYC_Init (the log path
// at every call), so that one process can run several set-ups one after the other.
#pragma once

// Result of LYC_Init (decimal; default 0).
#define LYC_STANDIN_INIT "LYC_STANDIN_INIT"
// Picture: "bars" (default: moving colour bars and a ring), "uniform", "dot" or "counter".
#define LYC_STANDIN_PATTERN "LYC_STANDIN_PATTERN"
// 12-bit samples of the uniform picture (defaults 2048).
#define LYC_STANDIN_Y "LYC_STANDIN_Y"
#define LYC_STANDIN_U "LYC_STANDIN_U"
#define LYC_STANDIN_V "LYC_STANDIN_V"
// Frames per second (default 30); 0: no frame until LYC_Term; 1000 or more: no pause at all.
#define LYC_STANDIN_FPS "LYC_STANDIN_FPS"
// How LYC_GetFrame misbehaves once LYC_STANDIN_FAULT_AFTER frames (decimal; default 0) were
// delivered: "fail" returns at once and writes nothing; "unfilled" keeps the pace and writes
// nothing; "partial" keeps the pace and writes only the first half of the frame; "block" writes
// nothing and returns after 10 s, or at LYC_Term; "hang" never returns, LYC_Term or not; "crash"
// raises an access violation inside the call.
#define LYC_STANDIN_FAULT "LYC_STANDIN_FAULT"
#define LYC_STANDIN_FAULT_AFTER "LYC_STANDIN_FAULT_AFTER"
// "LYC_Init" or "LYC_Term": that call never returns.
#define LYC_STANDIN_HANG "LYC_STANDIN_HANG"
// Name of an event: LYC_GetFrame waits until it is set and then delivers its frame, and LYC_Term
// does not end that wait (a library whose frame call ignores LYC_Term). The event is manual-reset
// and made by LYC_Init when it does not exist yet.
#define LYC_STANDIN_HOLD "LYC_STANDIN_HOLD"
// File to which every call appends its name as one line; LYC_GetFrame's line is written when the
// call returns, so the log shows whether a waiting call was ended.
#define LYC_STANDIN_LOG "LYC_STANDIN_LOG"

// The dot picture lights the first Y0 sample of raw row 0 at full scale.
// The counter picture gives every luma sample of frame n (from 1) the value (n % 256) << 4 and
// every chroma sample 2048, so each byte of the converted picture reads n % 256.
