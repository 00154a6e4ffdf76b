// The keys of the run options (`RuntimeOptions`): the map the engine facade
// builds for every execution and that the execution context, the formula
// evaluator, the table and the label run read. A misspelt key would be an
// option nobody reads, so every module names them through these constants.
#pragma once

#include <string_view>

namespace kx::opcion {

// Where the execution stands among the job's detail records.
inline constexpr std::string_view nRegistroBase = "nRegistroBase";
inline constexpr std::string_view nRegistroFinRuntime = "nRegistroFinRuntime";
inline constexpr std::string_view nTotalRegistrosRuntime = "nTotalRegistrosRuntime";
inline constexpr std::string_view aRegistrosDetalleRuntime = "aRegistrosDetalleRuntime";
inline constexpr std::string_view lRegistrosDetalleGlobalRuntime = "lRegistrosDetalleGlobalRuntime";
inline constexpr std::string_view lSemanticDataRuntime = "lSemanticDataRuntime";
inline constexpr std::string_view aDataVarChangesRuntime = "aDataVarChangesRuntime";

// What earlier executions carry over.
inline constexpr std::string_view hAcumuladoresIniciales = "hAcumuladoresIniciales";
inline constexpr std::string_view hContinuacionesTabla = "hContinuacionesTabla";
inline constexpr std::string_view hEstadosTabla = "hEstadosTabla";
inline constexpr std::string_view lOmitirResetInicialAcumuladores =
    "lOmitirResetInicialAcumuladores";

// Pages.
inline constexpr std::string_view nPaginaActualRuntime = "nPaginaActualRuntime";
inline constexpr std::string_view nTotalPaginasRuntime = "nTotalPaginasRuntime";
inline constexpr std::string_view lTotalPaginasConocido = "lTotalPaginasConocido";
inline constexpr std::string_view nUltimaPaginaRuntime = "nUltimaPaginaRuntime";
inline constexpr std::string_view hPaginacionPorClaveRuntime = "hPaginacionPorClaveRuntime";

// The template's variable definitions.
inline constexpr std::string_view hUserVars = "hUserVars";
inline constexpr std::string_view hAcumVars = "hAcumVars";

// The project, the host's answers and the label sheet.
inline constexpr std::string_view cProjectFilePath = "cProjectFilePath";
inline constexpr std::string_view cProjectPath = "cProjectPath";
inline constexpr std::string_view cProjectFileName = "cProjectFileName";
inline constexpr std::string_view hAskStringValues = "hAskStringValues";
inline constexpr std::string_view nEtiquetaInicial = "nEtiquetaInicial";
inline constexpr std::string_view modoEjecucion = "modoEjecucion";

// Progress.
inline constexpr std::string_view lProgressActive = "lProgressActive";
inline constexpr std::string_view bProgressRecord = "bProgressRecord";
inline constexpr std::string_view bProgressPage = "bProgressPage";

}  // namespace kx::opcion
