#ifndef PGX_VISA_VISA_H
#define PGX_VISA_VISA_H
/*
 * The VISA C API: the standard names, types, status codes and attribute numbers.
 *
 * Resources are served by the built-in simulated bench (the default; PGX_VISA_BENCH names a bench file),
 * by raw TCP sockets ("TCPIP0::host::port::SOCKET"), or by the system's VISA library when PGX_VISA_LIBRARY
 * names one (every call is then forwarded to it). PGX_VISA_TRACE names a file that receives one line per
 * call.
 */

#ifdef __cplusplus
extern "C" {
#endif

/* ---- Types ---------------------------------------------------------------------------------------- */

#define _VI_FAR
#define _VI_FUNC
#define _VI_FUNCC
#define _VI_FUNCH
#define _VI_SIGNED signed
#define _VI_PTR *
#define _VI_ERROR (-2147483647L - 1)

typedef unsigned long long ViUInt64;
typedef signed long long ViInt64;
typedef unsigned int ViUInt32;
typedef signed int ViInt32;
typedef unsigned short ViUInt16;
typedef signed short ViInt16;
typedef unsigned char ViUInt8;
typedef signed char ViInt8;
typedef char ViChar;
typedef unsigned char ViByte;
typedef void* ViAddr;
typedef float ViReal32;
typedef double ViReal64;

typedef ViUInt64* ViPUInt64;
typedef ViInt64* ViPInt64;
typedef ViUInt32* ViPUInt32;
typedef ViInt32* ViPInt32;
typedef ViUInt16* ViPUInt16;
typedef ViInt16* ViPInt16;
typedef ViUInt8* ViPUInt8;
typedef ViInt8* ViPInt8;
typedef ViChar* ViPChar;
typedef ViByte* ViPByte;
typedef ViAddr* ViPAddr;
typedef ViReal32* ViPReal32;
typedef ViReal64* ViPReal64;

typedef ViUInt16 ViBoolean;
typedef ViBoolean* ViPBoolean;

typedef ViPByte ViBuf;
typedef const ViByte* ViConstBuf;
typedef ViPByte ViPBuf;
typedef ViPChar ViString;
typedef const ViChar* ViConstString;
typedef ViString ViRsrc;
typedef ViConstString ViConstRsrc;
typedef ViString ViKeyId;
typedef ViConstString ViConstKeyId;
typedef ViPChar ViPString;
typedef ViPChar ViPRsrc;
typedef ViPChar ViPKeyId;

typedef ViInt32 ViStatus;
typedef ViStatus* ViPStatus;
typedef ViUInt32 ViVersion;
typedef ViVersion* ViPVersion;
typedef ViUInt32 ViObject;
typedef ViObject* ViPObject;
typedef ViObject ViSession;
typedef ViSession* ViPSession;
typedef ViUInt32 ViAttr;
typedef ViObject ViFindList;
typedef ViFindList* ViPFindList;
typedef ViObject ViEvent;
typedef ViEvent* ViPEvent;
typedef ViUInt32 ViEventType;
typedef ViEventType* ViPEventType;
typedef ViUInt32 ViEventFilter;
typedef ViUInt32 ViAccessMode;
typedef ViAccessMode* ViPAccessMode;
typedef ViUInt32 ViJobId;
typedef ViJobId* ViPJobId;
typedef ViUInt64 ViBusAddress;
typedef ViBusAddress* ViPBusAddress;
typedef ViUInt64 ViBusSize;
typedef ViUInt64 ViAttrState;
typedef void* ViPAttrState;
typedef ViUInt16 ViUInt16Array[];
typedef const ViChar* ViConstAttr;

#define VI_NULL 0
#define VI_TRUE ((ViBoolean)1)
#define VI_FALSE ((ViBoolean)0)

/* Size of the description buffers of viFindRsrc, viFindNext and viStatusDesc. */
#define VI_FIND_BUFLEN 256

/* The standard version this library implements (major.minor.sub in 12.8.12 bits). */
#define VI_SPEC_VERSION 0x00500800UL

/* ---- Status codes: completion --------------------------------------------------------------------- */

#define VI_SUCCESS ((ViStatus)0L)
#define VI_SUCCESS_EVENT_EN ((ViStatus)0x3FFF0002L)
#define VI_SUCCESS_EVENT_DIS ((ViStatus)0x3FFF0003L)
#define VI_SUCCESS_QUEUE_EMPTY ((ViStatus)0x3FFF0004L)
#define VI_SUCCESS_TERM_CHAR ((ViStatus)0x3FFF0005L)
#define VI_SUCCESS_MAX_CNT ((ViStatus)0x3FFF0006L)
#define VI_SUCCESS_DEV_NPRESENT ((ViStatus)0x3FFF007DL)
#define VI_SUCCESS_TRIG_MAPPED ((ViStatus)0x3FFF007EL)
#define VI_SUCCESS_QUEUE_NEMPTY ((ViStatus)0x3FFF0080L)
#define VI_SUCCESS_NCHAIN ((ViStatus)0x3FFF0098L)
#define VI_SUCCESS_NESTED_SHARED ((ViStatus)0x3FFF0099L)
#define VI_SUCCESS_NESTED_EXCLUSIVE ((ViStatus)0x3FFF009AL)
#define VI_SUCCESS_SYNC ((ViStatus)0x3FFF009BL)

#define VI_WARN_QUEUE_OVERFLOW ((ViStatus)0x3FFF000CL)
#define VI_WARN_CONFIG_NLOADED ((ViStatus)0x3FFF0077L)
#define VI_WARN_NULL_OBJECT ((ViStatus)0x3FFF0082L)
#define VI_WARN_NSUP_ATTR_STATE ((ViStatus)0x3FFF0084L)
#define VI_WARN_UNKNOWN_STATUS ((ViStatus)0x3FFF0085L)
#define VI_WARN_NSUP_BUF ((ViStatus)0x3FFF0088L)
#define VI_WARN_EXT_FUNC_NIMPL ((ViStatus)0x3FFF00A9L)

/* ---- Status codes: errors ------------------------------------------------------------------------- */

#define VI_ERROR_SYSTEM_ERROR ((ViStatus)(_VI_ERROR + 0x3FFF0000L))
#define VI_ERROR_INV_OBJECT ((ViStatus)(_VI_ERROR + 0x3FFF000EL))
#define VI_ERROR_RSRC_LOCKED ((ViStatus)(_VI_ERROR + 0x3FFF000FL))
#define VI_ERROR_INV_EXPR ((ViStatus)(_VI_ERROR + 0x3FFF0010L))
#define VI_ERROR_RSRC_NFOUND ((ViStatus)(_VI_ERROR + 0x3FFF0011L))
#define VI_ERROR_INV_RSRC_NAME ((ViStatus)(_VI_ERROR + 0x3FFF0012L))
#define VI_ERROR_INV_ACC_MODE ((ViStatus)(_VI_ERROR + 0x3FFF0013L))
#define VI_ERROR_TMO ((ViStatus)(_VI_ERROR + 0x3FFF0015L))
#define VI_ERROR_CLOSING_FAILED ((ViStatus)(_VI_ERROR + 0x3FFF0016L))
#define VI_ERROR_INV_DEGREE ((ViStatus)(_VI_ERROR + 0x3FFF001BL))
#define VI_ERROR_INV_JOB_ID ((ViStatus)(_VI_ERROR + 0x3FFF001CL))
#define VI_ERROR_NSUP_ATTR ((ViStatus)(_VI_ERROR + 0x3FFF001DL))
#define VI_ERROR_NSUP_ATTR_STATE ((ViStatus)(_VI_ERROR + 0x3FFF001EL))
#define VI_ERROR_ATTR_READONLY ((ViStatus)(_VI_ERROR + 0x3FFF001FL))
#define VI_ERROR_INV_LOCK_TYPE ((ViStatus)(_VI_ERROR + 0x3FFF0020L))
#define VI_ERROR_INV_ACCESS_KEY ((ViStatus)(_VI_ERROR + 0x3FFF0021L))
#define VI_ERROR_INV_EVENT ((ViStatus)(_VI_ERROR + 0x3FFF0026L))
#define VI_ERROR_INV_MECH ((ViStatus)(_VI_ERROR + 0x3FFF0027L))
#define VI_ERROR_HNDLR_NINSTALLED ((ViStatus)(_VI_ERROR + 0x3FFF0028L))
#define VI_ERROR_INV_HNDLR_REF ((ViStatus)(_VI_ERROR + 0x3FFF0029L))
#define VI_ERROR_INV_CONTEXT ((ViStatus)(_VI_ERROR + 0x3FFF002AL))
#define VI_ERROR_QUEUE_OVERFLOW ((ViStatus)(_VI_ERROR + 0x3FFF002DL))
#define VI_ERROR_NENABLED ((ViStatus)(_VI_ERROR + 0x3FFF002FL))
#define VI_ERROR_ABORT ((ViStatus)(_VI_ERROR + 0x3FFF0030L))
#define VI_ERROR_RAW_WR_PROT_VIOL ((ViStatus)(_VI_ERROR + 0x3FFF0034L))
#define VI_ERROR_RAW_RD_PROT_VIOL ((ViStatus)(_VI_ERROR + 0x3FFF0035L))
#define VI_ERROR_OUTP_PROT_VIOL ((ViStatus)(_VI_ERROR + 0x3FFF0036L))
#define VI_ERROR_INP_PROT_VIOL ((ViStatus)(_VI_ERROR + 0x3FFF0037L))
#define VI_ERROR_BERR ((ViStatus)(_VI_ERROR + 0x3FFF0038L))
#define VI_ERROR_IN_PROGRESS ((ViStatus)(_VI_ERROR + 0x3FFF0039L))
#define VI_ERROR_INV_SETUP ((ViStatus)(_VI_ERROR + 0x3FFF003AL))
#define VI_ERROR_QUEUE_ERROR ((ViStatus)(_VI_ERROR + 0x3FFF003BL))
#define VI_ERROR_ALLOC ((ViStatus)(_VI_ERROR + 0x3FFF003CL))
#define VI_ERROR_INV_MASK ((ViStatus)(_VI_ERROR + 0x3FFF003DL))
#define VI_ERROR_IO ((ViStatus)(_VI_ERROR + 0x3FFF003EL))
#define VI_ERROR_INV_FMT ((ViStatus)(_VI_ERROR + 0x3FFF003FL))
#define VI_ERROR_NSUP_FMT ((ViStatus)(_VI_ERROR + 0x3FFF0041L))
#define VI_ERROR_LINE_IN_USE ((ViStatus)(_VI_ERROR + 0x3FFF0042L))
#define VI_ERROR_NSUP_MODE ((ViStatus)(_VI_ERROR + 0x3FFF0046L))
#define VI_ERROR_SRQ_NOCCURRED ((ViStatus)(_VI_ERROR + 0x3FFF004AL))
#define VI_ERROR_INV_SPACE ((ViStatus)(_VI_ERROR + 0x3FFF004EL))
#define VI_ERROR_INV_OFFSET ((ViStatus)(_VI_ERROR + 0x3FFF0051L))
#define VI_ERROR_INV_WIDTH ((ViStatus)(_VI_ERROR + 0x3FFF0052L))
#define VI_ERROR_NSUP_OFFSET ((ViStatus)(_VI_ERROR + 0x3FFF0054L))
#define VI_ERROR_NSUP_VAR_WIDTH ((ViStatus)(_VI_ERROR + 0x3FFF0055L))
#define VI_ERROR_WINDOW_NMAPPED ((ViStatus)(_VI_ERROR + 0x3FFF0057L))
#define VI_ERROR_RESP_PENDING ((ViStatus)(_VI_ERROR + 0x3FFF0059L))
#define VI_ERROR_NLISTENERS ((ViStatus)(_VI_ERROR + 0x3FFF005FL))
#define VI_ERROR_NCIC ((ViStatus)(_VI_ERROR + 0x3FFF0060L))
#define VI_ERROR_NSYS_CNTLR ((ViStatus)(_VI_ERROR + 0x3FFF0061L))
#define VI_ERROR_NSUP_OPER ((ViStatus)(_VI_ERROR + 0x3FFF0067L))
#define VI_ERROR_INTR_PENDING ((ViStatus)(_VI_ERROR + 0x3FFF0068L))
#define VI_ERROR_ASRL_PARITY ((ViStatus)(_VI_ERROR + 0x3FFF006AL))
#define VI_ERROR_ASRL_FRAMING ((ViStatus)(_VI_ERROR + 0x3FFF006BL))
#define VI_ERROR_ASRL_OVERRUN ((ViStatus)(_VI_ERROR + 0x3FFF006CL))
#define VI_ERROR_TRIG_NMAPPED ((ViStatus)(_VI_ERROR + 0x3FFF006EL))
#define VI_ERROR_NSUP_ALIGN_OFFSET ((ViStatus)(_VI_ERROR + 0x3FFF0070L))
#define VI_ERROR_USER_BUF ((ViStatus)(_VI_ERROR + 0x3FFF0071L))
#define VI_ERROR_RSRC_BUSY ((ViStatus)(_VI_ERROR + 0x3FFF0072L))
#define VI_ERROR_NSUP_WIDTH ((ViStatus)(_VI_ERROR + 0x3FFF0076L))
#define VI_ERROR_INV_PARAMETER ((ViStatus)(_VI_ERROR + 0x3FFF0078L))
#define VI_ERROR_INV_PROT ((ViStatus)(_VI_ERROR + 0x3FFF0079L))
#define VI_ERROR_INV_SIZE ((ViStatus)(_VI_ERROR + 0x3FFF007BL))
#define VI_ERROR_WINDOW_MAPPED ((ViStatus)(_VI_ERROR + 0x3FFF0080L))
#define VI_ERROR_NIMPL_OPER ((ViStatus)(_VI_ERROR + 0x3FFF0081L))
#define VI_ERROR_INV_LENGTH ((ViStatus)(_VI_ERROR + 0x3FFF0083L))
#define VI_ERROR_INV_MODE ((ViStatus)(_VI_ERROR + 0x3FFF0091L))
#define VI_ERROR_SESN_NLOCKED ((ViStatus)(_VI_ERROR + 0x3FFF009CL))
#define VI_ERROR_MEM_NSHARED ((ViStatus)(_VI_ERROR + 0x3FFF009DL))
#define VI_ERROR_LIBRARY_NFOUND ((ViStatus)(_VI_ERROR + 0x3FFF009EL))
#define VI_ERROR_NSUP_INTR ((ViStatus)(_VI_ERROR + 0x3FFF009FL))
#define VI_ERROR_INV_LINE ((ViStatus)(_VI_ERROR + 0x3FFF00A0L))
#define VI_ERROR_FILE_ACCESS ((ViStatus)(_VI_ERROR + 0x3FFF00A1L))
#define VI_ERROR_FILE_IO ((ViStatus)(_VI_ERROR + 0x3FFF00A2L))
#define VI_ERROR_NSUP_LINE ((ViStatus)(_VI_ERROR + 0x3FFF00A3L))
#define VI_ERROR_NSUP_MECH ((ViStatus)(_VI_ERROR + 0x3FFF00A4L))
#define VI_ERROR_INTF_NUM_NCONFIG ((ViStatus)(_VI_ERROR + 0x3FFF00A5L))
#define VI_ERROR_CONN_LOST ((ViStatus)(_VI_ERROR + 0x3FFF00A6L))
#define VI_ERROR_MACHINE_NAVAIL ((ViStatus)(_VI_ERROR + 0x3FFF00A7L))
#define VI_ERROR_NPERMISSION ((ViStatus)(_VI_ERROR + 0x3FFF00A8L))

/* ---- Attributes ----------------------------------------------------------------------------------- */

#define VI_ATTR_RSRC_CLASS (0xBFFF0001UL)
#define VI_ATTR_RSRC_NAME (0xBFFF0002UL)
#define VI_ATTR_RSRC_IMPL_VERSION (0x3FFF0003UL)
#define VI_ATTR_RSRC_LOCK_STATE (0x3FFF0004UL)
#define VI_ATTR_MAX_QUEUE_LENGTH (0x3FFF0005UL)
#define VI_ATTR_USER_DATA (0x3FFF0007UL)
#define VI_ATTR_SEND_END_EN (0x3FFF0016UL)
#define VI_ATTR_TERMCHAR (0x3FFF0018UL)
#define VI_ATTR_TMO_VALUE (0x3FFF001AUL)
#define VI_ATTR_GPIB_READDR_EN (0x3FFF001BUL)
#define VI_ATTR_IO_PROT (0x3FFF001CUL)
#define VI_ATTR_DMA_ALLOW_EN (0x3FFF001EUL)
#define VI_ATTR_ASRL_BAUD (0x3FFF0021UL)
#define VI_ATTR_ASRL_DATA_BITS (0x3FFF0022UL)
#define VI_ATTR_ASRL_PARITY (0x3FFF0023UL)
#define VI_ATTR_ASRL_STOP_BITS (0x3FFF0024UL)
#define VI_ATTR_ASRL_FLOW_CNTRL (0x3FFF0025UL)
#define VI_ATTR_RD_BUF_OPER_MODE (0x3FFF002AUL)
#define VI_ATTR_RD_BUF_SIZE (0x3FFF002BUL)
#define VI_ATTR_WR_BUF_OPER_MODE (0x3FFF002DUL)
#define VI_ATTR_WR_BUF_SIZE (0x3FFF002EUL)
#define VI_ATTR_SUPPRESS_END_EN (0x3FFF0036UL)
#define VI_ATTR_TERMCHAR_EN (0x3FFF0038UL)
#define VI_ATTR_GPIB_REN_STATE (0x3FFF0181UL)
#define VI_ATTR_GPIB_UNADDR_EN (0x3FFF0184UL)
#define VI_ATTR_CMDR_LA (0x3FFF006BUL)
#define VI_ATTR_VXI_DEV_CLASS (0x3FFF006CUL)
#define VI_ATTR_MAINFRAME_LA (0x3FFF0070UL)
#define VI_ATTR_MANF_NAME (0xBFFF0072UL)
#define VI_ATTR_MODEL_NAME (0xBFFF0077UL)
#define VI_ATTR_ASRL_AVAIL_NUM (0x3FFF00ACUL)
#define VI_ATTR_ASRL_END_IN (0x3FFF00B3UL)
#define VI_ATTR_ASRL_END_OUT (0x3FFF00B4UL)
#define VI_ATTR_RM_SESSION (0x3FFF00C4UL)
#define VI_ATTR_VXI_LA (0x3FFF00D5UL)
#define VI_ATTR_MANF_ID (0x3FFF00D9UL)
#define VI_ATTR_MEM_SIZE (0x3FFF00DDUL)
#define VI_ATTR_MEM_SPACE (0x3FFF00DEUL)
#define VI_ATTR_MODEL_CODE (0x3FFF00DFUL)
#define VI_ATTR_SLOT (0x3FFF00E8UL)
#define VI_ATTR_INTF_INST_NAME (0xBFFF00E9UL)
#define VI_ATTR_IMMEDIATE_SERV (0x3FFF0100UL)
#define VI_ATTR_INTF_PARENT_NUM (0x3FFF0101UL)
#define VI_ATTR_RSRC_SPEC_VERSION (0x3FFF0170UL)
#define VI_ATTR_INTF_TYPE (0x3FFF0171UL)
#define VI_ATTR_GPIB_PRIMARY_ADDR (0x3FFF0172UL)
#define VI_ATTR_GPIB_SECONDARY_ADDR (0x3FFF0173UL)
#define VI_ATTR_RSRC_MANF_NAME (0xBFFF0174UL)
#define VI_ATTR_RSRC_MANF_ID (0x3FFF0175UL)
#define VI_ATTR_INTF_NUM (0x3FFF0176UL)
#define VI_ATTR_TRIG_ID (0x3FFF0177UL)
#define VI_ATTR_DEV_STATUS_BYTE (0x3FFF0189UL)
#define VI_ATTR_4882_COMPLIANT (0x3FFF019FUL)
#define VI_ATTR_TCPIP_ADDR (0xBFFF0195UL)
#define VI_ATTR_TCPIP_HOSTNAME (0xBFFF0196UL)
#define VI_ATTR_TCPIP_PORT (0x3FFF0197UL)
#define VI_ATTR_TCPIP_DEVICE_NAME (0xBFFF0199UL)
#define VI_ATTR_TCPIP_NODELAY (0x3FFF019AUL)
#define VI_ATTR_TCPIP_KEEPALIVE (0x3FFF019BUL)
#define VI_ATTR_FIND_RSRC_MODE (0x3FFF0190UL)

/* ---- Attribute values and other constants --------------------------------------------------------- */

#define VI_INTF_GPIB (1)
#define VI_INTF_VXI (2)
#define VI_INTF_GPIB_VXI (3)
#define VI_INTF_ASRL (4)
#define VI_INTF_PXI (5)
#define VI_INTF_TCPIP (6)
#define VI_INTF_USB (7)

#define VI_PROT_NORMAL (1)
#define VI_PROT_FDC (2)
#define VI_PROT_HS488 (3)
#define VI_PROT_4882_STRS (4)
#define VI_PROT_USBTMC_VENDOR (5)

#define VI_NO_LOCK (0)
#define VI_EXCLUSIVE_LOCK (1)
#define VI_SHARED_LOCK (2)
#define VI_LOAD_CONFIG (4)

#define VI_TMO_IMMEDIATE (0L)
#define VI_TMO_INFINITE (0xFFFFFFFFUL)

#define VI_NO_SEC_ADDR (0xFFFF)
#define VI_UNKNOWN_LA (-1)
#define VI_UNKNOWN_SLOT (-1)
#define VI_UNKNOWN_LEVEL (-1)
#define VI_UNKNOWN_CHASSIS (-1)

#define VI_FLUSH_ON_ACCESS (1)
#define VI_FLUSH_WHEN_FULL (2)
#define VI_FLUSH_DISABLE (3)

#define VI_READ_BUF (1)
#define VI_WRITE_BUF (2)
#define VI_READ_BUF_DISCARD (4)
#define VI_WRITE_BUF_DISCARD (8)
#define VI_IO_IN_BUF (16)
#define VI_IO_OUT_BUF (32)
#define VI_IO_IN_BUF_DISCARD (64)
#define VI_IO_OUT_BUF_DISCARD (128)

#define VI_ASRL_PAR_NONE (0)
#define VI_ASRL_PAR_ODD (1)
#define VI_ASRL_PAR_EVEN (2)
#define VI_ASRL_PAR_MARK (3)
#define VI_ASRL_PAR_SPACE (4)
#define VI_ASRL_STOP_ONE (10)
#define VI_ASRL_STOP_ONE5 (15)
#define VI_ASRL_STOP_TWO (20)
#define VI_ASRL_FLOW_NONE (0)
#define VI_ASRL_FLOW_XON_XOFF (1)
#define VI_ASRL_FLOW_RTS_CTS (2)
#define VI_ASRL_FLOW_DTR_DSR (4)
#define VI_ASRL_END_NONE (0)
#define VI_ASRL_END_LAST_BIT (1)
#define VI_ASRL_END_TERMCHAR (2)
#define VI_ASRL_END_BREAK (3)

#define VI_FIND_RSRC_MODE_DEFAULT (0)

/* ---- Functions ------------------------------------------------------------------------------------ */

/* Resource manager and discovery. */
ViStatus _VI_FUNC viOpenDefaultRM(ViPSession vi);
ViStatus _VI_FUNC viFindRsrc(ViSession sesn, ViConstString expr, ViPFindList vi, ViPUInt32 retCnt,
                             ViChar _VI_FAR desc[]);
ViStatus _VI_FUNC viFindNext(ViFindList vi, ViChar _VI_FAR desc[]);
ViStatus _VI_FUNC viParseRsrc(ViSession rmSesn, ViConstRsrc rsrcName, ViPUInt16 intfType, ViPUInt16 intfNum);
ViStatus _VI_FUNC viParseRsrcEx(ViSession rmSesn, ViConstRsrc rsrcName, ViPUInt16 intfType, ViPUInt16 intfNum,
                                ViChar _VI_FAR rsrcClass[], ViChar _VI_FAR expandedUnaliasedName[],
                                ViChar _VI_FAR aliasIfExists[]);
ViStatus _VI_FUNC viOpen(ViSession sesn, ViConstRsrc name, ViAccessMode mode, ViUInt32 timeout,
                         ViPSession vi);

/* Every object. */
ViStatus _VI_FUNC viClose(ViObject vi);
ViStatus _VI_FUNC viSetAttribute(ViObject vi, ViAttr attrName, ViAttrState attrValue);
ViStatus _VI_FUNC viGetAttribute(ViObject vi, ViAttr attrName, void _VI_PTR attrValue);
ViStatus _VI_FUNC viStatusDesc(ViObject vi, ViStatus status, ViChar _VI_FAR desc[]);

/* Message-based I/O. */
ViStatus _VI_FUNC viRead(ViSession vi, ViPBuf buf, ViUInt32 cnt, ViPUInt32 retCnt);
ViStatus _VI_FUNC viWrite(ViSession vi, ViConstBuf buf, ViUInt32 cnt, ViPUInt32 retCnt);
ViStatus _VI_FUNC viClear(ViSession vi);
ViStatus _VI_FUNC viReadSTB(ViSession vi, ViPUInt16 status);
ViStatus _VI_FUNC viFlush(ViSession vi, ViUInt16 mask);

#ifdef __cplusplus
}
#endif

#endif /* PGX_VISA_VISA_H */
