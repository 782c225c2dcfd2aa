#include "params/errors.hpp"

const std::string MissingFlagException::m_message = "ERROR!!! Must specify a value for flag: ";

MissingFlagException::MissingFlagException(const std::string& flag_name)
    : flag(flag_name), message(m_message + flag_name) {}

const std::string GenericErrorException::m_prefix = "Error encountered, program terminated: ";
