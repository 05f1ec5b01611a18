// Every text the library leaves for SMSGetLastError, written once, each beside the number
// SMSGetLastErrorCode gives for it (tidewire_errors.h). The texts are the ones hosts have always
// compared against, so they are kept to the byte (UTF-8 here; handed out as GBK on Windows and
// in the host's codeset on POSIX).
#ifndef TIDEWIRE_BASE_ERRORTEXTS_H
#define TIDEWIRE_BASE_ERRORTEXTS_H

#include <cstdint>

#include "tidewire_errors.h"

namespace tidewire {

#define TIDEWIRE_ERROR_TEXTS(X)                                                                   \
    X(AlreadyStarted, TIDEWIRE_ERROR_ALREADY_STARTED,                                             \
      "服务已经启动(或还没有停止成功)，不能再次启动")                                             \
    X(PortOpenFailed, TIDEWIRE_ERROR_PORT_OPEN_FAILED, "串口打开错误")                            \
    X(NoDeviceOrBaud, TIDEWIRE_ERROR_NO_ANSWER, "未连接好设备或者波特率错误")                     \
    X(UnknownModule, TIDEWIRE_ERROR_UNKNOWN_MODULE, "无法识别的模块类型")                         \
    X(NoDeviceOrSim, TIDEWIRE_ERROR_NO_SIM, "未连接好设备或者没有SIM卡")                          \
    X(WorkerNotStarted, TIDEWIRE_ERROR_WORKER_NOT_STARTED, "启动接收线程失败")                    \
    X(ServiceCentreTooLong, TIDEWIRE_ERROR_SERVICE_CENTRE_TOO_LONG, "短信中心号码长度不能大于19") \
    X(ServiceCentreMalformed, TIDEWIRE_ERROR_SERVICE_CENTRE_MALFORMED, "短信中心号码格式错误")    \
    X(NotStarted, TIDEWIRE_ERROR_NOT_STARTED, "服务器未启动")                                     \
    X(TextLength, TIDEWIRE_ERROR_TEXT_LENGTH, "发送的内容大于255或小于等于0")                     \
    X(NumberLength, TIDEWIRE_ERROR_NUMBER_LENGTH, "发送的手机号码大于31或小于等于0")              \
    X(NumberIllegal, TIDEWIRE_ERROR_NUMBER_ILLEGAL, "发送的手机号码含有非法字符")                 \
    X(TextIllegal, TIDEWIRE_ERROR_TEXT_ILLEGAL, "发送的内容含有非法控制字符")                     \
    X(LegacyEmpty, TIDEWIRE_ERROR_LEGACY_EMPTY, "待发送内容或对方号码不能为空")                   \
    X(LegacyTooLong, TIDEWIRE_ERROR_LEGACY_TOO_LONG, "待发送内容或对方号码过长")                  \
    X(InitCnmi666, TIDEWIRE_ERROR_INIT_CNMI_GSM, "初始化Modem(设置AT+CNMI=1,0,0,0,1)发生错误")    \
    X(InitCmgf666, TIDEWIRE_ERROR_INIT_CMGF_GSM, "初始化Modem(设置AT+CMGF=0)发生错误")            \
    X(InitCpms666, TIDEWIRE_ERROR_INIT_CPMS_GSM, "初始化Modem(设置AT+CPMS=ME)发生错误")           \
    X(InitServiceCentre, TIDEWIRE_ERROR_INIT_SERVICE_CENTRE, "设置短信中心号码发生错误")          \
    X(InitCnmi870, TIDEWIRE_ERROR_INIT_CNMI_870, "初始化Modem(设置AT+CNMI=2,2,0,0,0)发生错误")    \
    X(InitCpms870, TIDEWIRE_ERROR_INIT_CPMS_870, "初始化Modem(设置AT+CPMS=MT)发生错误")           \
    X(InitSmsType860, TIDEWIRE_ERROR_INIT_SMSTYPE_860, "初始化Modem(设置at$smstype=1)发生错误")   \
    X(InitMtRptType860, TIDEWIRE_ERROR_INIT_MTRPTTYPE_860,                                        \
      "初始化Modem(设置at$mtrpttype=0)发生错误")                                                  \
    X(InitPortFailed, TIDEWIRE_ERROR_INIT_PORT_FAILED, "初始化Modem时串口发生错误")               \
    X(SendException, TIDEWIRE_ERROR_SEND_EXCEPTION, "发送模块发生异常")                           \
    X(ReceiveException, TIDEWIRE_ERROR_RECEIVE_EXCEPTION, "接收模块发生异常")                     \
    X(SingleByteTooLong, TIDEWIRE_ERROR_ASCII_TOO_LONG, "英文短信，长度不能大于140")              \
    X(SingleByteModeFailed, TIDEWIRE_ERROR_ASCII_MODE_FAILED, "以英文发送时，AT+CMGF=1设置失败")  \
    X(MultiByteTooLong, TIDEWIRE_ERROR_UNICODE_TOO_LONG, "中文短信长度不能大于70")                \
    X(MultiByteModeFailed, TIDEWIRE_ERROR_UNICODE_MODE_FAILED, "以中文发送时，AT+CMGF=0设置失败") \
    X(NumberTooLong, TIDEWIRE_ERROR_NUMBER_TOO_LONG, "发送的手机号码过长")                        \
    X(SingleByte870ModeFailed, TIDEWIRE_ERROR_ASCII_870_MODE_FAILED,                              \
      "以英文发送时，AT+ZMSGL=1, 2设置失败")                                                      \
    X(MultiByte870ModeFailed, TIDEWIRE_ERROR_UNICODE_870_MODE_FAILED,                             \
      "以中文发送时，AT+ZMSGL=6,4设置失败")

enum class ErrorText {
#define TIDEWIRE_ERROR_ENUM(name, code, text) name,
    TIDEWIRE_ERROR_TEXTS(TIDEWIRE_ERROR_ENUM)
#undef TIDEWIRE_ERROR_ENUM
};

// The UTF-8 text of an error.
const char* ErrorTextUtf8(ErrorText error);

// The error's number, as SMSGetLastErrorCode gives it.
int32_t ErrorCode(ErrorText error);

}  // namespace tidewire

#endif
