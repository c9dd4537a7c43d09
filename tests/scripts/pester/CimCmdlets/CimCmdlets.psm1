# Scenario member "wmi":
#   class:     'present' (default), 'absent' (a quiet "not found" error),
#              'absent-throws' (a terminating CimException NotFound),
#              'fails' (a terminating CimException with message "fail_message")
#   instances: how many instances Get-CimInstance returns (default 1)
#   gets:      outcomes of successive Get_Lighting_Current_Status calls, the last
#              repeating: @{ Current_Brightness_Level = N }, @{} (no such
#              member) or @{ error = 'text' }
#   sets:      the same for Set_Lighting_Current_Status: @{} or @{ error = 'text' }

Set-StrictMode -Version 3.0

$script:scenario = (Get-Content -Raw -LiteralPath $env:NIVALTO_SIM_SCENARIO | ConvertFrom-Json -AsHashtable)['wmi']
$script:calls = @{ gets = 0; sets = 0 }

function Write-CallLog {
    param([string]$Line)
    [System.IO.File]::AppendAllText($env:NIVALTO_SIM_LOG, $Line + "`n")
}

# The exception the real cmdlets raise, with its full name and error code
# property. PowerShell on Linux carries a CimException of that name whose
# code cannot be chosen, so this one lives in an assembly of its own and is
# compiled only when a scenario needs it.
$script:cimException = $null
function New-CimError {
    param([string]$Code, [string]$Message)
    if ($null -eq $script:cimException) {
        $script:cimException = Add-Type -IgnoreWarnings -PassThru -TypeDefinition @'
namespace Microsoft.Management.Infrastructure
{
    public enum NativeErrorCode { Ok = 0, Failed = 1, AccessDenied = 2, NotFound = 6 }
    public class CimException : System.Exception
    {
        public CimException(NativeErrorCode code, string message) : base(message) { NativeErrorCode = code; }
        public NativeErrorCode NativeErrorCode { get; private set; }
    }
}
'@ | Where-Object { $_.Name -eq 'CimException' }
    }
    $exception = $script:cimException::new($Code, $Message)
    return [System.Management.Automation.ErrorRecord]::new($exception, $Code, 'NotSpecified', $null)
}

function Get-Setting {
    param([string]$Name, $Default)
    if ($null -ne $script:scenario -and $script:scenario.ContainsKey($Name)) { return $script:scenario[$Name] }
    return $Default
}

function Get-CimClass {
    [CmdletBinding()]
    param([Parameter(Position = 0)][string]$ClassName, [Parameter(Position = 1)][string]$Namespace)
    Write-CallLog "Get-CimClass namespace=$Namespace class=$ClassName erroraction=$($PSBoundParameters['ErrorAction'])"
    switch (Get-Setting 'class' 'absent') {
        'present' { return [pscustomobject]@{ CimClassName = $ClassName } }
        'absent' { Write-Error -ErrorRecord (New-CimError 'NotFound' 'Not found') }
        'absent-throws' { $PSCmdlet.ThrowTerminatingError((New-CimError 'NotFound' 'Not found')) }
        'fails' { $PSCmdlet.ThrowTerminatingError((New-CimError 'AccessDenied' (Get-Setting 'fail_message' 'Access denied'))) }
    }
}

function Get-CimInstance {
    [CmdletBinding()]
    param([Parameter(Position = 0)][string]$ClassName, [string]$Namespace)
    Write-CallLog "Get-CimInstance namespace=$Namespace class=$ClassName"
    for ($i = 0; $i -lt (Get-Setting 'instances' 1); $i++) {
        [pscustomobject]@{ PSTypeName = 'Microsoft.Management.Infrastructure.CimInstance'; InstanceId = $i }
    }
}

function Get-Outcome {
    param([string]$Sequence)
    $list = @(Get-Setting $Sequence @(@{}))
    $index = [Math]::Min($script:calls[$Sequence], $list.Count - 1)
    $script:calls[$Sequence]++
    return $list[$index]
}

function Invoke-CimMethod {
    [CmdletBinding()]
    param([Parameter(Mandatory)][psobject]$InputObject, [Parameter(Mandatory, Position = 0)][string]$MethodName,
        [System.Collections.IDictionary]$Arguments)
    $described = foreach ($key in @($Arguments.Keys | Sort-Object)) { "$key=$($Arguments[$key]):$($Arguments[$key].GetType().Name)" }
    Write-CallLog "Invoke-CimMethod instance=$($InputObject.InstanceId) $MethodName $($described -join ' ')"
    $outcome = switch ($MethodName) {
        'Get_Lighting_Current_Status' { Get-Outcome 'gets' }
        'Set_Lighting_Current_Status' { Get-Outcome 'sets' }
        default { $PSCmdlet.ThrowTerminatingError((New-CimError 'NotFound' "Method $MethodName not found")) }
    }
    if ($outcome.ContainsKey('error')) {
        $PSCmdlet.ThrowTerminatingError((New-CimError 'Failed' $outcome['error']))
    }
    $result = [ordered]@{ ReturnValue = [uint32]0 }
    if ($outcome.ContainsKey('Current_Brightness_Level')) {
        $result['Current_Brightness_Level'] = [uint32]$outcome['Current_Brightness_Level']
    }
    return [pscustomobject]$result
}
