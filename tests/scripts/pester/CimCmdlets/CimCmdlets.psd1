# Stands in for the CIM cmdlets the backlight script calls, played from the
# "wmi" member of the scenario named by NIVALTO_SIM_SCENARIO.
@{
    RootModule        = 'CimCmdlets.psm1'
    ModuleVersion     = '1.0.0'
    GUID              = '5b0f8a55-3f7e-4c61-9a3e-2f4b1d6c7e90'
    FunctionsToExport = @('Get-CimClass', 'Get-CimInstance', 'Invoke-CimMethod')
    CmdletsToExport   = @()
    AliasesToExport   = @()
    VariablesToExport = @()
}
